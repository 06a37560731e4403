#pragma once
// Something a shader can sample: a texture, a target's latest finished picture, the music.

class ScriptSampler {
public:
    virtual ~ScriptSampler() = default;
    // The GL texture name to sample, 0 for none; made, uploaded or filled here at first use.
    // Called by the owner with the context current; it may leave textures and framebuffers
    // bound (the gate puts them back).
    virtual unsigned SampleTexture() = 0;
    // The size of what it samples in pixels (iChannelResolution); 0 while unknown.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
};
