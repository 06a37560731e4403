#include "sync/synctrack.h"

#include <algorithm>
#include <cmath>

SyncTrack::SyncTrack(std::string name)
    : name(std::move(name))
{
}

static bool RowBefore(const SyncKey& key, uint32_t row)
{
    return key.row < row;
}

void SyncTrack::SetKey(const SyncKey& key)
{
    const auto at = std::lower_bound(keys.begin(), keys.end(), key.row, RowBefore);
    if (at != keys.end() && at->row == key.row)
        *at = key;
    else
        keys.insert(at, key);
}

void SyncTrack::DeleteKey(uint32_t row)
{
    const auto at = std::lower_bound(keys.begin(), keys.end(), row, RowBefore);
    if (at != keys.end() && at->row == row)
        keys.erase(at);
}

void SyncTrack::SetKeys(std::vector<SyncKey> given)
{
    std::stable_sort(given.begin(), given.end(),
                     [](const SyncKey& a, const SyncKey& b) { return a.row < b.row; });
    keys.clear();
    keys.reserve(given.size());
    for (const SyncKey& key : given) {
        if (!keys.empty() && keys.back().row == key.row)
            keys.back() = key;
        else
            keys.push_back(key);
    }
}

double SyncTrack::Value(double row) const
{
    if (keys.empty())
        return 0;
    const double whole = std::floor(row);
    // The first key past the row's floor; the one before it is the key at or before the row.
    const auto next = std::upper_bound(keys.begin(), keys.end(), whole,
                                       [](double r, const SyncKey& key) { return r < double(key.row); });
    if (next == keys.begin())
        return keys.front().value;
    if (next == keys.end())
        return keys.back().value;
    const SyncKey& from = *(next - 1);
    const double v0 = from.value, v1 = next->value;
    double t = (row - double(from.row)) / (double(next->row) - double(from.row));
    switch (from.interpolation) {
    case SyncInterpolation::Step:
        return v0;
    case SyncInterpolation::Linear:
        break;
    case SyncInterpolation::Smooth:
        t = t * t * (3 - 2 * t);
        break;
    case SyncInterpolation::Ramp:
        t = t * t;
        break;
    }
    return v0 + (v1 - v0) * t;
}
