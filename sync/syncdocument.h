#pragma once
// The sync editor's own document, the XML it saves: <sync rows="..."> holds <tracks>, each
// <track name="..."> holds its <key row="..." value="..." interpolation="..."/>. What else the
// editor keeps there (bookmarks, colours, folding) is no concern of the scene.

#include <map>
#include <string>
#include <vector>

#include "sync/synctrack.h"

class QByteArray;

// Keys by track name, in the document's order within each track.
using SyncDocumentTracks = std::map<std::string, std::vector<SyncKey>>;

// False, with what is wrong and on which line, for text that is not such a document.
bool ParseSyncDocument(const QByteArray& xml, SyncDocumentTracks& tracks, std::string& error);
// Reads and parses the file; error names what is wrong with it.
bool ReadSyncDocument(const std::string& path, SyncDocumentTracks& tracks, std::string& error);
