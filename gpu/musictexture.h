#pragma once
// The texture of the music that shaders declaring `iSpectrum` sample: row 0 the spectrum, row 1
// the waveform, at the music's time, filled at its first use in a frame (never in a frame no
// such shader draws). Its owner keeps one for every shader it draws.

#include <vector>

#include "gpu/gpuobject.h"
#include "gpu/scriptsampler.h"

// Where the rows come from: width values for each, all 0..1, at a time in the music.
struct MusicRows {
    void (*fill)(double seconds, float* spectrum, float* waveform) = nullptr;
    int width = 0;
};

class MusicTexture : public GpuObject, public ScriptSampler {
public:
    // The rows to sample from now on: a frame's first use fills them from rows at seconds. No
    // fill reads as silence: zeros, and 0.5 for the waveform.
    void Source(const MusicRows& rows, double seconds);

    bool Load(std::string&) override { return true; }
    // A width x 2 texture of one float channel.
    unsigned SampleTexture() override;
    int Width() const override { return source.width; }
    int Height() const override { return 2; }
    bool HoldsGl() const override { return names[0] != 0; }
    void FreeGl() override;

private:
    MusicRows source;
    double seconds = 0;
    std::vector<float> rows;
    // Two textures taking turns a frame: the one the last frame sampled may still be in the
    // renderer's hands, and filling it would wait for that frame to finish.
    unsigned names[2] = {0, 0};
    int madeWidth = 0;
    long filledFrame = -1;
};
