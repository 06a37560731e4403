// Script drawing against the same vertices from a C++ loop, in the view's own context and camera.
// Each sample is bracketed by glFinish, so it holds the rasterising of the batch as well.

#include <cstdio>
#include <string>
#include <vector>

#include <GL/gl.h>

#include <QTimer>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "bench/trianglefield.h"
#include "script/luaengine.h"
#include "world/openglemptyworldwidget.h"
#include "world/world.h"

static constexpr int kCounts[] = {10000, 50000};
static constexpr int kSamples = 21;

static constexpr int kCheckCount = 2000;

static std::vector<GLubyte> Pixels(const QSize& size)
{
    std::vector<GLubyte> pixels(size_t(size.width()) * size.height() * 4);
    glFinish();
    glReadPixels(0, 0, size.width(), size.height(), GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

int RunDrawCheck()
{
    StartProgramWindow();
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    if (!view->MakeCurrent())
        return 1;
    const QSize size = view->size() * view->devicePixelRatio();
    const TriangleField field(kCheckCount);
    field.InstallScriptRender();
    view->world->SetupCamera();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const std::vector<GLubyte> empty = Pixels(size);
    RunLuaString("render()");
    const std::vector<GLubyte> script = Pixels(size);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    field.Draw();
    const std::vector<GLubyte> native = Pixels(size);
    if (script == empty) {
        std::fprintf(stderr, "bench: the script's render() drew nothing\n");
        return 1;
    }
    if (script != native) {
        std::fprintf(stderr, "bench: the script and the C++ loop drew different pictures\n");
        return 1;
    }
    return 0;
}

static std::string Text(const GLubyte* text)
{
    return text ? reinterpret_cast<const char*>(text) : "unknown";
}

int RunDrawBench(BenchResults& results)
{
    StartProgramWindow();
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    if (!view->MakeCurrent())
        return 1;
    results.Add("gl.renderer", Text(glGetString(GL_RENDERER)));
    results.Add("gl.version", Text(glGetString(GL_VERSION)));
    const QSize size = view->size() * view->devicePixelRatio();
    results.Add("view.width", size.width());
    results.Add("view.height", size.height());

    for (int count : kCounts) {
        const TriangleField field(count);
        field.InstallScriptRender();
        std::vector<double> script, native, frame, interpreter, unchecked;
        for (int i = 0; i < kSamples; ++i) {
            view->MakeCurrent();
            view->world->SetupCamera();
            script.push_back(TimedDraw([] { RunLuaString("render()"); }));
            native.push_back(TimedDraw([&] { field.Draw(); }));
            interpreter.push_back(TimedDraw([] { RunLuaString("benchCallsOnly()"); }));
            SetTimeLimitCheck(false);
            unchecked.push_back(TimedDraw([] { RunLuaString("render()"); }));
            SetTimeLimitCheck(true);
            const double start = NowMs();
            view->UpdateFrame();
            frame.push_back(NowMs() - start);
        }
        view->frameTimer->stop();
        const std::string prefix = "draw." + std::to_string(count) + ".";
        results.Add(prefix + "script_ms", Median(script));
        results.Add(prefix + "cpp_ms", Median(native));
        results.Add(prefix + "ratio", Median(native) / Median(script));
        results.Add(prefix + "frame_ms", Median(frame));
        results.Add(prefix + "interpreter_ms", Median(interpreter));
        results.Add(prefix + "unchecked_script_ms", Median(unchecked));
    }
    return 0;
}
