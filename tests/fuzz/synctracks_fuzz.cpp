// Every input is read as a track file and as the editor's document. A track file that reads
// must be written back to the same bytes; whatever either gives must make tracks whose keys
// are in order, one a row, and whose values at any row are the keys' values or between them.

#include <cmath>
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
    double lowest = INFINITY, highest = -INFINITY;
    bool finite = true;
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0 && kept[i].row <= kept[i - 1].row)
            Fail("keys out of order");
        if (unsigned(kept[i].interpolation) >= kSyncInterpolationCount)
            Fail("an interpolation past 3");
        finite = finite && std::isfinite(kept[i].value);
        lowest = std::fmin(lowest, kept[i].value);
        highest = std::fmax(highest, kept[i].value);
    }
    if (!finite || kept.empty())
        return;
    // v0 + (v1 - v0) * t loses what lies below the rounding of the larger value.
    const double slack = 1e-9 * std::fmax(std::fabs(lowest), std::fabs(highest)) + 1e-9;
    for (const SyncKey& key : kept) {
        for (const double row : {double(key.row) - 0.5, double(key.row), double(key.row) + 0.25, double(key.row) + 1.75}) {
            const double value = track.Value(row);
            if (!(value >= lowest - slack && value <= highest + slack))
                Fail("a value outside its keys' values");
        }
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
