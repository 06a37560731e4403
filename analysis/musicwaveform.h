#pragma once
// The music's waveform around a time, for the shader texture's second row: mono samples decoded
// from the file a block at a time when they are asked for, so that no copy of the whole music is
// kept. Every block is decoded from a jump to its start, so it is the same however its time was
// reached. For the GUI thread.
#include <cstdint>
#include <memory>
#include <vector>

#include "sound/soundreader.h"

class MusicWaveform {
public:
    // The reader gives the music as the analysis reads it.
    explicit MusicWaveform(std::unique_ptr<SoundReader> reader);
    // n mono samples centred on the time, mapped from -1..1 to 0..1; silence (0.5) outside the
    // music.
    void Fill(double seconds, int n, float* samples);

private:
    struct Block {
        long long index = -1;
        std::vector<int16_t> mono;
    };
    const Block& BlockAt(long long index);

    std::unique_ptr<SoundReader> reader;
    std::vector<int16_t> frames;
    // The two latest blocks: a row of samples spans at most two.
    Block blocks[2];
    int older = 0;
};
