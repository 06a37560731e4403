#include "bench/benchsupport.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/scenewatcher.h"
#include "app/ui_mainwindow.h"
#include "capture/offscreenview.h"
#include "script/luaengine.h"
#include "world/kestrovaworld.h"
#include "world/openglemptyworldwidget.h"

extern "C" {
#include <lua.h>
}

// The view must keep one size this long before it counts as settled after maximising.
static constexpr int kSettleMs = 500;
static constexpr int kStartTimeoutMs = 10000;

double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double CpuMs(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double MicrosecondsACall(const std::string& call, int calls)
{
    const std::string loop = "for i = 1, " + std::to_string(calls) + " do ";
    double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    RunLuaString(loop + "end");
    const double empty = CpuMs(CLOCK_THREAD_CPUTIME_ID) - start;
    start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    RunLuaString(loop + call + " end");
    return (CpuMs(CLOCK_THREAD_CPUTIME_ID) - start - empty) * 1e3 / calls;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + middle, values.end());
    return values[middle];
}

double Minimum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double TimedDraw(const std::function<void()>& draw)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glFinish();
    const double start = NowMs();
    draw();
    glFinish();
    return NowMs() - start;
}

long ResidentKiB()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kib;
}

void Spin(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

OpenGLEmptyWorldWidget* View()
{
    return g_mainWindow->ui->world;
}

void StartProgramWindow()
{
    MainWindow* window = new MainWindow;
    window->show();
    QElapsedTimer clock;
    clock.start();
    QSize lastSize;
    qint64 stableSince = 0;
    while (clock.elapsed() < kStartTimeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QSize size = View()->size();
        if (size != lastSize || !View()->isExposed()) {
            lastSize = size;
            stableSince = clock.elapsed();
        } else if (clock.elapsed() - stableSince > kSettleMs) {
            return;
        }
    }
    std::fprintf(stderr, "bench: the view was not shown within %d ms\n", kStartTimeoutMs);
}

void StopFrameLoop()
{
    OpenGLEmptyWorldWidget* view = View();
    QObject::disconnect(view->frameTimer, nullptr, view, nullptr);
    view->frameTimer->stop();
}

void SetTimeLimitCheck(bool on)
{
    // The engine's hook, as it was before the first call took it off.
    static const lua_Hook hook = lua_gethook(g_luaState);
    static const int mask = lua_gethookmask(g_luaState), count = lua_gethookcount(g_luaState);
    lua_sethook(g_luaState, on ? hook : nullptr, on ? mask : 0, on ? count : 0);
}

void SetScriptWatching(bool on)
{
    SceneWatcher*& watcher = g_mainWindow->sceneWatcher;
    if (on && !watcher)
        watcher = new SceneWatcher(g_mainWindow->ui->world->gpu, g_mainWindow);
    if (!on) {
        delete watcher;
        watcher = nullptr;
    }
}

// Frames of a render() on the capture's offscreen view.
static constexpr int kFramesEach = 60;

// The median of frames (tick, draw, finish) with this render(), after a few to settle.
double FrameMs(OffscreenView& view, KestrovaWorld& world, const std::string& render)
{
    RunLuaString("function render() " + render + " end");
    std::vector<double> times;
    for (int frame = 0; frame < kFramesEach + 5; ++frame) {
        const double start = NowMs();
        world.Tick(0.05f);
        view.Draw(world);
        view.Finish();
        if (frame >= 5)
            times.push_back(NowMs() - start);
    }
    return Median(times);
}

// What the render() with adds to the one without: frames of the two take turns, so that whatever
// else the machine does weighs on both alike.
double AddedMs(OffscreenView& view, KestrovaWorld& world, const std::string& without,
                      const std::string& with)
{
    RunLuaString("function Without() " + without + " end function With() " + with + " end");
    std::vector<double> times[2];
    for (int frame = 0; frame < 2 * kFramesEach + 10; ++frame) {
        RunLuaString(frame % 2 ? "render = With" : "render = Without");
        const double start = NowMs();
        world.Tick(0.05f);
        view.Draw(world);
        view.Finish();
        if (frame >= 10)
            times[frame % 2].push_back(NowMs() - start);
    }
    return Median(times[1]) - Median(times[0]);
}
