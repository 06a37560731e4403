#pragma once
// The OpenGL pane: a window with its own GL context, drawn synchronously from the frame timer.
// It owns the world, runs the frame loop and hands mouse, wheel and key input to the world.

#include <QWindow>

#include "world/framemeter.h"
#include "world/framepacer.h"

class QOpenGLContext;
class QTimer;
class FrameReadout;
class QWidget;
class ScriptGpu;
class StatusStrip;
class World;

class OpenGLEmptyWorldWidget : public QWindow {
    Q_OBJECT
public:
    explicit OpenGLEmptyWorldWidget(QWindow* parent = nullptr);
    ~OpenGLEmptyWorldWidget() override;

    World* world;
    // The script's GL objects drawn in this view's context, and its drawing state there.
    ScriptGpu* gpu;
    QTimer* frameTimer;
    // The widget that holds this window in a widget tree, if any. The window takes its keys
    // straight from the window system, past the widgets' focus chain, so Tab and Shift+Tab
    // are handed to that chain from here.
    QWidget* container;
    // Drawn over each frame after the world; off, the frame is the world's alone.
    StatusStrip* statusStrip;
    bool showStatusStrip = true;
    // Frames a second and the latest frame's parts in the top right corner: measured and drawn
    // only while shown.
    FrameReadout* frameReadout;
    FrameMeter frameMeter;
    // When each frame starts: 10 ms after the last one's end, or at a set rate.
    FramePacer framePacer;
    // Frames a second, measured from frame start to frame start; 0 for the wait after each frame.
    // With a rate the buffer swap waits for the display's refresh where the platform does.
    void SetFrameRate(int framesPerSecond);
    bool FrameReadoutShown() const { return showFrameReadout; }
    void ShowFrameReadout(bool shown);

    // Makes the context current, draws the world and swaps; nothing while not exposed.
    void repaint();
    // Makes the view's context current, creating it on first use. False without a context.
    bool MakeCurrent();

public slots:
    void UpdateFrame();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    virtual void initializeGL();
    virtual void resizeGL(int w, int h);
    virtual void paintGL();

private:
    bool FocusNextWidget(bool forward);

    QOpenGLContext* context;
    bool initialized;
    QSize viewportSize;
    bool showFrameReadout = false;
};
