#pragma once
// The real view drawn into a framebuffer object of its own, for tests that read back what a frame
// drew (colours and depth); input still goes through the view's event handlers.

#include <QImage>
#include <QOpenGLFramebufferObject>

#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"

class FramebufferView : public OpenGLEmptyWorldWidget {
public:
    FramebufferView(int width, int height) : width(width), height(height) {}

    // Made at the first frame, with the context current; the test deletes it before the view.
    QOpenGLFramebufferObject* target = nullptr;

    // One frame into the target: the world ticked by step first (none for 0), then painted.
    // False without a context.
    bool Paint(float step)
    {
        if (!MakeCurrent())
            return false;
        if (!target) {
            target = new QOpenGLFramebufferObject(width, height, QOpenGLFramebufferObject::Depth);
            target->bind();
            initializeGL();
            resizeGL(width, height);
        }
        target->bind();
        if (step > 0)
            world->Tick(step);
        paintGL();
        return true;
    }

    // One frame after a step of 0.05 s, read back as 32-bit RGB; null without a context.
    QImage Frame()
    {
        return Paint(0.05f) ? target->toImage().convertToFormat(QImage::Format_RGB32) : QImage();
    }

private:
    int width;
    int height;
};
