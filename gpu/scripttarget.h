#pragma once
// An off-screen colour and depth target a script draws into and samples. It holds two
// framebuffers: one is drawn into while the other holds the last finished picture, which is what
// sampling reads, so a target can sample itself (feedback). Its GL objects are made on first use,
// black; one that follows the view is made again when the view's size changes.

#include <cstddef>

#include "gpu/gpuobject.h"
#include "gpu/scriptsampler.h"

class QOpenGLFramebufferObject;

class ScriptTarget : public GpuObject, public ScriptSampler {
public:
    // A size of 0 by 0 follows the view.
    ScriptTarget(int width, int height);
    ~ScriptTarget() override;

    // The bytes both framebuffers take at that size (colour and depth).
    static std::size_t Bytes(int width, int height);

    int Width() const override;
    int Height() const override;

    // Takes the bytes of a fixed size from the budget (a target that follows the view takes
    // them when it is first drawn).
    bool Load(std::string& why) override;
    // Makes the GL objects if due (the budget is asked first) and starts drawing into it: the
    // first time in a frame, into the buffer that does not hold the last picture, cleared to
    // black. Null on success, or the error text.
    const char* BeginDrawing();
    // Binds the framebuffer being drawn into, and its viewport.
    void BindForDrawing();
    // The buffer drawn into holds the last finished picture from now on.
    void EndDrawing();

    unsigned SampleTexture() override;
    bool HoldsGl() const override { return buffers[0] != nullptr; }
    void FreeGl() override;

private:
    const char* Prepare();
    const char* HoldFor(int width, int height);

    bool followView;
    int width;
    int height;
    // The size the buffers were made for.
    int madeWidth = 0;
    int madeHeight = 0;
    QOpenGLFramebufferObject* buffers[2] = {nullptr, nullptr};
    // The buffer with the last finished picture, and the one drawn into this frame.
    int finished = 0;
    int drawIndex = 0;
    long drawnFrame = -1;
    bool drawing = false;
};
