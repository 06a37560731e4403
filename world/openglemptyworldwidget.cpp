#include "world/openglemptyworldwidget.h"

#include <GL/gl.h>

#include <algorithm>
#include <thread>

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>

#include "gpu/scriptgpu.h"
#include "script/gpugate.h"
#include "world/framereadout.h"
#include "world/kestrovaworld.h"
#include "world/viewgl.h"
#include "world/statusstrip.h"

OpenGLEmptyWorldWidget::OpenGLEmptyWorldWidget(QWindow* parent)
    : QWindow(parent)
    , container(nullptr)
    , context(nullptr)
    , initialized(false)
{
    setSurfaceType(QWindow::OpenGLSurface);
    world = new KestrovaWorld;
    gpu = new ScriptGpu(CollectScriptObjects, StepScriptCollector);
    statusStrip = new StatusStrip;
    frameReadout = new FrameReadout;
    frameTimer = new QTimer(this);
    connect(frameTimer, &QTimer::timeout, this, &OpenGLEmptyWorldWidget::UpdateFrame);
    frameTimer->setSingleShot(true);
    frameTimer->start(FramePacer::kRearm);
}

OpenGLEmptyWorldWidget::~OpenGLEmptyWorldWidget()
{
    // The world and the strip may release GL state, so the context is current while they go.
    MakeCurrent();
    // The script's objects go with the view, GL names and all, while the context is current;
    // the Lua values that held them are left empty (the Lua state closes later).
    delete gpu;
    delete world;
    delete statusStrip;
    delete frameReadout;
    if (context)
        context->doneCurrent();
}

bool OpenGLEmptyWorldWidget::MakeCurrent()
{
    if (!context) {
        if (!handle())
            return false;
        context = new QOpenGLContext(this);
        context->setFormat(requestedFormat());
        if (!context->create()) {
            delete context;
            context = nullptr;
            return false;
        }
    }
    return context->makeCurrent(this);
}

void OpenGLEmptyWorldWidget::SetFrameRate(int framesPerSecond)
{
    framePacer.SetRate(framesPerSecond);
    // A coarse timer may fire early by a twentieth of its interval.
    frameTimer->setTimerType(framesPerSecond > 0 ? Qt::PreciseTimer : Qt::CoarseTimer);
    if (framesPerSecond > 0 && !handle()) {
        QSurfaceFormat format = requestedFormat();
        format.setSwapInterval(1);
        setFormat(format);
    }
}

void OpenGLEmptyWorldWidget::UpdateFrame()
{
    // The timer waits whole milliseconds, rounded down and a millisecond short, since the event
    // loop may run it late: the rest of the wait is slept here, to the microsecond.
    if (framePacer.Rate() > 0)
        std::this_thread::sleep_until(framePacer.NextStart());
    framePacer.FrameStarted(FramePacer::Clock::now());
    if (showFrameReadout)
        frameMeter.BeginFrame();
    world->Tick(kFrameStep);
    repaint();
    if (showFrameReadout)
        frameMeter.EndFrame();
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(framePacer.WaitAfterFrame(FramePacer::Clock::now()));
    const std::chrono::milliseconds early{framePacer.Rate() > 0 ? 1 : 0};
    frameTimer->start(std::max(std::chrono::milliseconds::zero(), wait - early));
}

void OpenGLEmptyWorldWidget::ShowFrameReadout(bool shown)
{
    showFrameReadout = shown;
    frameMeter.Reset();
    // The view's world is the scripted one: the constructor made it.
    static_cast<KestrovaWorld*>(world)->chunkTimes = shown ? &frameMeter.current : nullptr;
}

void OpenGLEmptyWorldWidget::repaint()
{
    if (!isExposed() || !MakeCurrent())
        return;
    if (!initialized) {
        initialized = true;
        initializeGL();
    }
    const QSize size = this->size() * devicePixelRatio();
    if (size != viewportSize) {
        viewportSize = size;
        resizeGL(size.width(), size.height());
    }
    paintGL();
    context->swapBuffers(this);
}

// Keys released while another window has the keyboard never reach this one.
void OpenGLEmptyWorldWidget::focusOutEvent(QFocusEvent* event)
{
    world->input.ReleaseAll();
    QWindow::focusOutEvent(event);
}

void OpenGLEmptyWorldWidget::exposeEvent(QExposeEvent*)
{
    repaint();
}

void OpenGLEmptyWorldWidget::resizeEvent(QResizeEvent*)
{
    // Scripts that ask before the first frame learn the size too.
    const QSize pixels = size() * devicePixelRatio();
    gpu->SetViewSize(pixels.width(), pixels.height());
    repaint();
}

void OpenGLEmptyWorldWidget::initializeGL()
{
    SetupViewGL();
}

void OpenGLEmptyWorldWidget::resizeGL(int w, int h)
{
    glViewport(0, 0, w, h);
}

void OpenGLEmptyWorldWidget::paintGL()
{
    PaintWorld(*world, *gpu);
    if (showStatusStrip)
        statusStrip->Draw(devicePixelRatio());
    if (showFrameReadout)
        frameReadout->Draw(frameMeter, devicePixelRatio());
    // The frame as it will be shown, before the swap.
    if (world->screenshots.Waiting())
        world->screenshots.SaveAll();
}

// Mouse positions meet the viewport in device pixels.
static QPoint DevicePosition(const QWindow* window, const QPointF& logical)
{
    return (logical * window->devicePixelRatio()).toPoint();
}

// Of the input the world is given, only a mouse move reads GL state: it alone needs the context.
// Scripts number the buttons 1 left, 2 right, 3 middle; 0 for the others.
static int ButtonNumber(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 3;
    default: return 0;
    }
}

void OpenGLEmptyWorldWidget::mousePressEvent(QMouseEvent* event)
{
    world->input.ButtonPressed(ButtonNumber(event->button()));
    const QPoint p = DevicePosition(this, event->position());
    if (event->buttons() & Qt::LeftButton)
        world->LeftButtonDown(p.x(), p.y());
    if (event->buttons() & Qt::RightButton)
        world->RightButtonDown(p.x(), p.y());
}

void OpenGLEmptyWorldWidget::mouseReleaseEvent(QMouseEvent* event)
{
    world->input.ButtonReleased(ButtonNumber(event->button()));
    const QPoint p = DevicePosition(this, event->position());
    if (event->button() == Qt::LeftButton)
        world->LeftButtonUp(p.x(), p.y());
    else if (event->button() == Qt::RightButton)
        world->RightButtonUp(p.x(), p.y());
}

void OpenGLEmptyWorldWidget::mouseMoveEvent(QMouseEvent* event)
{
    // The camera work reads the viewport and the matrices, which exist only in a context.
    if (!MakeCurrent())
        return;
    const QPoint p = DevicePosition(this, event->position());
    world->MouseMove(p.x(), p.y());
}

void OpenGLEmptyWorldWidget::wheelEvent(QWheelEvent* event)
{
    event->accept();
    if (!world->mouseCameraEnabled)
        return;
    // A horizontal wheel zooms like a vertical one.
    const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (delta <= 0)
        world->ZoomOut();
    else
        world->ZoomIn();
}

// The first character of the key's text in 8 bits, 0 when it has none.
static char KeyCharacter(const QKeyEvent* event)
{
    return event->text().at(0).toLatin1();
}

// Tab and Shift+Tab without Ctrl or Alt, the keys of the toolkit's focus navigation.
static bool IsFocusKey(const QKeyEvent* event)
{
    return (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool OpenGLEmptyWorldWidget::FocusNextWidget(bool forward)
{
    if (!container)
        return false;
    for (QWidget* w = container;;) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == container)
            return false;
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled()
            && w->window() == container->window()) {
            w->setFocus(Qt::TabFocusReason);
            // The keyboard comes back from this window to the top level that holds the widget.
            if (QWindow* top = w->window()->windowHandle())
                top->requestActivate();
            return true;
        }
    }
}

// Scripts see a key held from its first press to its release, whoever else takes it.
void OpenGLEmptyWorldWidget::keyPressEvent(QKeyEvent* event)
{
    if (!event->isAutoRepeat())
        world->input.KeyPressed(event->key());
    const bool forward = event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier);
    if (IsFocusKey(event) && FocusNextWidget(forward))
        return;
    if (event->isAutoRepeat() || event->text().isEmpty()) {
        QWindow::keyPressEvent(event);
        return;
    }
    const QPoint p = DevicePosition(this, mapFromGlobal(QCursor::pos()));
    world->KeyDown(KeyCharacter(event), p.x(), p.y());
}

void OpenGLEmptyWorldWidget::keyReleaseEvent(QKeyEvent* event)
{
    if (!event->isAutoRepeat())
        world->input.KeyReleased(event->key());
    if (event->isAutoRepeat() || event->text().isEmpty()) {
        QWindow::keyReleaseEvent(event);
        return;
    }
    const QPoint p = DevicePosition(this, mapFromGlobal(QCursor::pos()));
    world->KeyUp(KeyCharacter(event), p.x(), p.y());
}
