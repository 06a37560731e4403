#pragma once
// A sound file decoded whole into 16-bit PCM of the mixer's output format, so that what is
// analysed or looped is exactly what the music plays.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct DecodedSound {
    // Frees what the mixer allocated.
    struct MixerFree {
        void operator()(int16_t* samples) const;
    };
    // Interleaved frames of `channels` samples, in the buffer the mixer decoded them into: a
    // copy would double the memory a whole track takes at its peak.
    std::unique_ptr<int16_t, MixerFree> samples;
    size_t sampleCount = 0;
    int rate = 0;
    int channels = 0;

    const int16_t* Samples() const { return samples.get(); }
    long long Frames() const { return channels > 0 ? (long long)(sampleCount) / channels : 0; }
};

// Decodes the file through the mixer's own decoders, in the format of the open output. Without
// an open output (a capture) one is opened on SDL's dummy driver for the decode alone, at the
// rate the window plays at. Safe on a thread of its own while the mixer plays. Setting `cancel`
// ends a decode early, with false. False with an empty result when the file cannot be decoded.
bool DecodeSoundFile(const std::string& path, DecodedSound& sound, const std::atomic<bool>& cancel);
