// Every input is read as a track file and as the editor's document. A track file that reads
// must be written back to the same bytes; whatever either gives must make tracks whose keys
// are in order, one a row, each with one of the four interpolations.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QByteArray>

#include "sync/syncdocument.h"
#include "sync/synctrack.h"
#include "sync/trackfile.h"

static void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

static void CheckTrack(const std::vector<SyncKey>& keys)
{
    SyncTrack track("fuzz");
    track.SetKeys(keys);
    const std::vector<SyncKey>& kept = track.Keys();
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0 && kept[i].row <= kept[i - 1].row)
            Fail("keys out of order");
        if (unsigned(kept[i].interpolation) >= kSyncInterpolationCount)
            Fail("an interpolation past 3");
        track.Value(kept[i].row + 0.5);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<SyncKey> keys;
    std::string error;
    if (ParseTrackFile(bytes, keys, error)) {
        if (TrackFileBytes(keys) != bytes)
            Fail("a track file not written back to its bytes");
        CheckTrack(keys);
    } else if (error.empty() || !keys.empty()) {
        Fail("a refused track file without its reason, or with keys");
    }
    SyncDocumentTracks tracks;
    if (ParseSyncDocument(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), tracks, error)) {
        for (const auto& track : tracks)
            CheckTrack(track.second);
    } else if (error.empty() || !tracks.empty()) {
        Fail("a refused document without its reason, or with tracks");
    }
    return 0;
}
