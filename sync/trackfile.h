#pragma once
// The track files a scene ships: sync_NAME.track beside prod.lua, one track each, in the sync
// library's player format. A file is a 32-bit key count, then for each key a 32-bit row, a
// 32-bit float value and a one-byte interpolation, all little-endian.

#include <string>
#include <vector>

#include "sync/synctrack.h"

// "sync_" NAME ".track", with every byte of the name outside A-Z a-z 0-9 . _ written as '-' and
// two upper-case hex digits, so that no name reaches outside the folder.
std::string TrackFileName(const std::string& trackName);

std::string TrackFileBytes(const std::vector<SyncKey>& keys);
// The keys of a file's bytes, in the file's order; false, with what is wrong, for bytes that are
// not a track file.
bool ParseTrackFile(const std::string& bytes, std::vector<SyncKey>& keys, std::string& error);

enum class TrackFileRead { Missing, Read, Damaged };
// Reads the file at path; error says what is wrong with a damaged or unreadable one.
TrackFileRead ReadTrackFile(const std::string& path, std::vector<SyncKey>& keys, std::string& error);
// Writes the file whole or not at all: a reader never sees half of it.
bool WriteTrackFile(const std::string& path, const std::vector<SyncKey>& keys, std::string& error);
