// Figures the suite leaves to the bench because a busy machine changes them: how closely the
// music's time follows the wall clock and a loop's jump back, and the resident memory of scenes
// that make and drop GPU objects every frame.

#include <unistd.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "analysis/soundtrackanalysis.h"
#include "app/soundtrack.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "world/openglemptyworldwidget.h"

// The clock is read as often as frames come: every 10 ms and a little work.
static constexpr useconds_t kReadEveryUs = 12000;
static constexpr double kPlaySeconds = 3;
static constexpr int kLoopJumps = 4;
static constexpr double kLoopSeconds = 1;

// Time of the music and of the wall clock, in seconds, read one after the other.
struct ClockReading {
    double music;
    double wall;
};

static ClockReading ReadClock()
{
    return {g_musicClock->Time(), NowMs() / 1000};
}

// The soundtrack in the working directory played as the program plays it: how far the music's
// time drifts from the wall clock over a few seconds, and, in a loop, how far the music time
// across a jump back (to the loop's end, then from its start) differs from the wall time between
// the two readings around it.
int RunClockBench(BenchResults& results)
{
    InstallSoundtrackClock();
    ChooseSoundtrack("Ondrelle.mp3", "Ondrelle.mp3", false);
    StartSoundtrack();
    if (!WaitForMusicAnalysis() || g_musicClock->Length() < 10)
        return 1;
    usleep(500000);
    const ClockReading start = ReadClock();
    ClockReading end = start;
    while (end.wall - start.wall < kPlaySeconds) {
        usleep(kReadEveryUs);
        end = ReadClock();
    }
    results.Add("clock.played_s", end.wall - start.wall);
    results.Add("clock.drift_ms", 1000 * std::abs((end.music - start.music) - (end.wall - start.wall)));

    const double from = g_musicClock->Time() + 0.5, to = from + kLoopSeconds;
    g_musicClock->SetLoop(from, to);
    double worst = 0;
    ClockReading before = ReadClock();
    for (int jumps = 0; jumps < kLoopJumps && before.wall - end.wall < 20;) {
        usleep(kReadEveryUs);
        const ClockReading after = ReadClock();
        if (after.music < before.music) {
            ++jumps;
            const double across = (to - before.music) + (after.music - from);
            worst = std::max(worst, std::abs(across - (after.wall - before.wall)));
        }
        before = after;
    }
    results.Add("clock.loop_jump_ms", 1000 * worst);
    StopSoundtrack();
    return 0;
}

// Resident memory grows by this much over the frames after the warm ones.
static double ResidentGrowthMiB(OpenGLEmptyWorldWidget* view, int warmFrames, int frames)
{
    for (int i = 0; i < warmFrames; ++i)
        view->UpdateFrame();
    const long start = ResidentKiB();
    for (int i = 0; i < frames; ++i)
        view->UpdateFrame();
    return (ResidentKiB() - start) / 1024.0;
}

// 1,000 meshes made and dropped a frame; 100 textures of 64 KiB loaded, sampled by a full-screen
// pass and dropped a frame; a target, a font and a texture made and dropped a frame. The first
// frames let every pool fill (the allocator's, the driver's).
int RunChurnBench(BenchResults& results)
{
    StartProgramWindow();
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    if (!view->MakeCurrent())
        return 1;
    RunLuaString("churnTri = {0,0,0, 255,0,0,255,  1,0,0, 0,255,0,255,  0,1,0, 0,0,255,255} "
                 "function update() made = {} for i = 1, 1000 do made[i] = newMesh(churnTri) end end "
                 "function render() for i = 1, #made do drawMesh(made[i]) end end");
    results.Add("churn.meshes_growth_mib", ResidentGrowthMiB(view, 50, 250));
    RunLuaString("made = nil function update() end function render() end collectgarbage()");

    QImage image(128, 128, QImage::Format_RGB32);
    image.fill(Qt::gray);
    if (!image.save("churn.png"))
        return 1;
    std::ofstream("churn.frag") << "uniform sampler2D t; void main() { gl_FragColor = texture2D(t, vec2(0.5)); }\n";
    RunLuaString("churnShader = loadShader('churn.frag') function render() for i = 1, 100 do "
                 "setUniform(churnShader, 't', loadTexture('churn.png')) drawFullscreen(churnShader) end end");
    results.Add("churn.textures_growth_mib", ResidentGrowthMiB(view, 50, 50));

    // What live coding does between two saves: a target, a font and a texture made, drawn and
    // dropped every frame, each of a size the allocator's heap would keep once freed.
    RunLuaString("churnFrame = 0 function render() churnFrame = churnFrame + 1 "
                 "local t = newTarget(256, 256) setTarget(t) drawText(newFont(10 + churnFrame % 30), 'churn', 4, 4) "
                 "setTarget(nil) useTexture(loadTexture('churn.png')) beginTriGL() vectorGL(0, 0, 0) vectorGL(1, 0, 0) "
                 "vectorGL(0, 1, 0) endGL() end");
    results.Add("churn.objects_growth_mib", ResidentGrowthMiB(view, 200, 1000));
    RunLuaString("function render() end collectgarbage()");
    view->UpdateFrame();
    std::remove("churn.png");
    std::remove("churn.frag");
    return 0;
}
