#include "sync/syncdocument.h"


#include <QByteArray>
#include <QFile>
#include <QXmlStreamReader>

// The editor's documents are text of a few megabytes at most.
static constexpr qint64 kLargestDocumentBytes = qint64(64) << 20;

static bool Fail(const QXmlStreamReader& reader, const std::string& what, std::string& error)
{
    error = "line " + std::to_string(reader.lineNumber()) + ": " + what;
    return false;
}

static bool ReadKey(QXmlStreamReader& reader, SyncKey& key, std::string& error)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    bool rowOk = false, valueOk = false, typeOk = false;
    const uint row = attributes.value(QLatin1String("row")).toUInt(&rowOk);
    const float value = attributes.value(QLatin1String("value")).toFloat(&valueOk);
    const uint type = attributes.value(QLatin1String("interpolation")).toUInt(&typeOk);
    if (!rowOk)
        return Fail(reader, "a key without a row from 0 on", error);
    if (!valueOk)
        return Fail(reader, "the key at row " + std::to_string(row) + " has no number for its value", error);
    if (!typeOk || type >= kSyncInterpolationCount)
        return Fail(reader, "the key at row " + std::to_string(row) + " has no interpolation from 0 to 3", error);
    key.row = row;
    key.value = value;
    key.interpolation = SyncInterpolation(type);
    reader.skipCurrentElement();
    return true;
}

// Inside <tracks>: each <track> and its keys; a name met twice adds to the track of that name.
static bool ReadTracks(QXmlStreamReader& reader, SyncDocumentTracks& tracks, std::string& error)
{
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("track")) {
            reader.skipCurrentElement();
            continue;
        }
        if (!reader.attributes().hasAttribute(QLatin1String("name")))
            return Fail(reader, "a track without a name", error);
        std::vector<SyncKey>& keys = tracks[reader.attributes().value(QLatin1String("name")).toString().toStdString()];
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("key")) {
                reader.skipCurrentElement();
                continue;
            }
            SyncKey key;
            if (!ReadKey(reader, key, error))
                return false;
            keys.push_back(key);
        }
    }
    return true;
}

bool ParseSyncDocument(const QByteArray& xml, SyncDocumentTracks& tracks, std::string& error)
{
    tracks.clear();
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement())
        return Fail(reader, reader.hasError() ? reader.errorString().toStdString() : "no element", error);
    if (reader.name() != QLatin1String("sync"))
        return Fail(reader, "the document is <" + reader.name().toString().toStdString() + ">, not <sync>", error);
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("tracks")) {
            if (!ReadTracks(reader, tracks, error)) {
                tracks.clear();
                return false;
            }
        } else {
            reader.skipCurrentElement();
        }
    }
    // The rest of the text must be well-formed too: a document cut short is no document.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError()) {
        tracks.clear();
        return Fail(reader, reader.errorString().toStdString(), error);
    }
    return true;
}

bool ReadSyncDocument(const std::string& path, SyncDocumentTracks& tracks, std::string& error)
{
    tracks.clear();
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    if (file.size() > kLargestDocumentBytes) {
        error = "larger than " + std::to_string(kLargestDocumentBytes >> 20) + " MiB";
        return false;
    }
    return ParseSyncDocument(file.readAll(), tracks, error);
}
