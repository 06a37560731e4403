#pragma once
// The texture of the music that shaders declaring `iSpectrum` sample: row 0 the spectrum, row 1
// the waveform, at the music's time, filled once a frame.

#include <functional>

// Writes `width` values into each row, all 0..1.
using MusicTextureFill = std::function<void(float* spectrum, float* waveform)>;

// Every shader that declares `sampler2D iSpectrum` gets a width x 2 texture of one float channel,
// filled by fill at its first use in each frame (never in a frame no such shader draws). A second
// call replaces the fill.
void ProvideMusicTexture(int width, MusicTextureFill fill);
// With the context current: this frame's texture, filled and uploaded at the first call of the
// frame; 0 before ProvideMusicTexture or without a context.
unsigned CurrentMusicTexture();
