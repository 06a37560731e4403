#pragma once
// An off-screen colour and depth target a script draws into and samples. It holds two
// framebuffers: one is drawn into while the other holds the last finished picture, which is what
// sampling reads, so a target can sample itself (feedback). Its GL objects are made on first use
// with the context current, black; one that follows the view is made again when the view's size
// changes.

#include <cstddef>

#include "gpu/scriptresource.h"

class QOpenGLFramebufferObject;

class ScriptTarget : public ScriptResource, public ScriptSampler {
public:
    // A size of 0 by 0 follows the view.
    ScriptTarget(int width, int height);
    ~ScriptTarget() override;

    // The bytes both framebuffers take at that size (colour and depth).
    static std::size_t Bytes(int width, int height);

    bool FollowsView() const { return followView; }
    int Width() const;
    int Height() const;

    // Takes the bytes of a fixed size from the budget (a target that follows the view takes
    // them when it is first drawn); null, or the error text.
    const char* Reserve();
    // Makes the GL objects if due (the budget is asked first: null then, or the error text)
    // and starts drawing into it: the first time in a frame, into the buffer that does not hold
    // the last picture, cleared to black. Null on success.
    const char* BeginDrawing();
    // The buffer drawn into holds the last finished picture from now on.
    void EndDrawing();

    unsigned SampleTexture() override;
    void DropGl() override;

private:
    const char* Prepare();
    const char* ReserveFor(int width, int height);
    void FreeBuffers();

    bool followView;
    int width;
    int height;
    // The size the buffers were made for, and the bytes taken for them.
    int madeWidth = 0;
    int madeHeight = 0;
    std::size_t reserved = 0;
    QOpenGLFramebufferObject* buffers[2] = {nullptr, nullptr};
    // The buffer with the last finished picture, and the one drawn into this frame.
    int finished = 0;
    int drawIndex = 0;
    long drawnFrame = -1;
    bool drawing = false;
};
