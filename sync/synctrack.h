#pragma once
// One sync track: keys at whole rows, each with a value and the way it leads to the next key.
// A row between two keys reads the first key's value carried towards the second's by the first
// key's interpolation; before the first key it reads the first key's value, after the last the
// last's, and a track without keys reads 0.

#include <cstdint>
#include <string>
#include <vector>

// The interpolations as the editor numbers them.
enum class SyncInterpolation : uint8_t { Step = 0, Linear = 1, Smooth = 2, Ramp = 3 };
constexpr unsigned kSyncInterpolationCount = 4;

struct SyncKey {
    uint32_t row = 0;
    float value = 0;
    SyncInterpolation interpolation = SyncInterpolation::Step;
};

class SyncTrack {
public:
    explicit SyncTrack(std::string name);

    const std::string& Name() const { return name; }
    // Ordered by row, one key a row at most.
    const std::vector<SyncKey>& Keys() const { return keys; }

    // Puts the key at its row, in place of one that is there.
    void SetKey(const SyncKey& key);
    // Removes the key at that row, if there is one.
    void DeleteKey(uint32_t row);
    // Keys in any order; of two at one row the later one stays.
    void SetKeys(std::vector<SyncKey> given);
    void Clear() { keys.clear(); }

    // The value at a fractional row: the key is chosen by the row's floor, the interpolation
    // runs on the fraction.
    double Value(double row) const;

private:
    std::string name;
    std::vector<SyncKey> keys;
};
