#pragma once
// A sound file decoded whole into 16-bit PCM of the mixer's output format, so that what is
// analysed or looped is exactly what the music plays.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedSound {
    // Interleaved frames of `channels` samples.
    std::vector<int16_t> samples;
    int rate = 0;
    int channels = 0;

    long long Frames() const { return channels > 0 ? (long long)(samples.size()) / channels : 0; }
};

// Decodes the file through the mixer's own decoders, in the format of the open output. Without
// an open output (a capture) one is opened on SDL's dummy driver for the decode alone, at the
// rate the window plays at. Safe on a thread of its own while the mixer plays. Setting `cancel`
// ends a decode early, with false. False with an empty result when the file cannot be decoded.
bool DecodeSoundFile(const std::string& path, DecodedSound& sound, const std::atomic<bool>& cancel);
