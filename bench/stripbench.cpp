// The status strip's cost a frame: the frame's work (tick, draw, swap) with the strip drawn less
// the same frame's without it. Hidden, it should cost nothing, which the time of the call alone
// shows best; shown, its text may stay the same (an error of a load) or change on every frame (the
// count of a failing render(), the music's time while paused or just after a jump). The frame
// readout (F9) the same way: shown, its figures change on every frame.

#include <ctime>
#include <vector>

#include <QTimer>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "world/framereadout.h"
#include "world/openglemptyworldwidget.h"
#include "world/statusstrip.h"

static constexpr int kFramesEach = 600;
static constexpr int kHiddenCalls = 100000;
static constexpr double kSecondsPerTimeRead = 0.016;

// Paused music whose time still moves on at every look: the strip shows it, with a new text on
// every frame.
class BenchClock : public MusicClock {
public:
    double Time() override { return time += kSecondsPerTimeRead; }
    double Length() const override { return 0; }
    bool Paused() const override { return paused; }
    void SetPaused(bool) override {}
    void Seek(double seconds) override { time = seconds; }

    bool paused = false;

private:
    double time = 0;
};

// CPU time of all the process's threads: the GL driver's rasterising threads as well, and none of
// the time spent waiting for a core while other programs use it.
static double CpuMs()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Frames with and without the strip take turns, so that whatever else the machine does weighs
// on both alike.
static double StripCostMs(OpenGLEmptyWorldWidget* view)
{
    std::vector<double> works[2];
    for (int frame = 0; frame < 2 * kFramesEach; ++frame) {
        view->showStatusStrip = frame % 2 == 0;
        const double start = CpuMs();
        view->UpdateFrame();
        works[frame % 2].push_back(CpuMs() - start);
    }
    view->frameTimer->stop();
    view->showStatusStrip = true;
    return Median(works[0]) - Median(works[1]);
}

// Frames with the readout shown and hidden take turns; shown, it measures the frame's parts too.
static double ReadoutCostMs(OpenGLEmptyWorldWidget* view)
{
    std::vector<double> works[2];
    for (int frame = 0; frame < 2 * kFramesEach; ++frame) {
        view->ShowFrameReadout(frame % 2 == 0);
        const double start = CpuMs();
        view->UpdateFrame();
        works[frame % 2].push_back(CpuMs() - start);
    }
    view->frameTimer->stop();
    view->ShowFrameReadout(false);
    return Median(works[0]) - Median(works[1]);
}

int RunStripBench(BenchResults& results)
{
    StartProgramWindow();
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    MusicClock* programClock = g_musicClock;
    BenchClock clock;
    g_musicClock = &clock;

    view->MakeCurrent();
    const double start = NowMs();
    for (int i = 0; i < kHiddenCalls; ++i)
        view->statusStrip->Draw(view->devicePixelRatio());
    results.Add("strip.hidden_call_ns", (NowMs() - start) * 1e6 / kHiddenCalls);
    results.Add("strip.hidden_ms", StripCostMs(view));
    g_scriptFailures.Run(g_scriptFailures.load, "error('prod.lua:12: an error that stays the same')");
    results.Add("strip.error_ms", StripCostMs(view));
    g_scriptFailures.Run(g_scriptFailures.load, "");
    // The only version of render() fails: it is called, and counted, on every frame.
    RunLuaString("rendered = false function render() if rendered then error('a new count of failed frames on every frame') end rendered = true end");
    results.Add("strip.counting_ms", StripCostMs(view));
    RunLuaString("function render() end");
    clock.paused = true;
    results.Add("strip.time_ms", StripCostMs(view));
    clock.paused = false;
    g_musicClock = programClock;

    view->MakeCurrent();
    for (int i = 0; i < kFramesEach; ++i)
        view->UpdateFrame();  // some figures to show
    view->frameTimer->stop();
    const double drawStart = NowMs();
    for (int i = 0; i < kFramesEach; ++i)
        view->frameReadout->Draw(view->frameMeter, view->devicePixelRatio());
    results.Add("readout.draw_us", (NowMs() - drawStart) * 1e3 / kFramesEach);
    results.Add("readout.shown_ms", ReadoutCostMs(view));
    return 0;
}
