// What the callbacks' error bookkeeping costs a frame (the version that last worked kept, each
// error said once and its repeats counted): update() and render() run through it against the same
// chunks run bare, on frames without an error and on frames whose render() fails every time. Then
// the resident memory of a state that ran out of memory, before, full, and after the script freed
// what filled it.

#include <string>
#include <vector>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/framecallback.h"
#include "script/luaengine.h"

static constexpr int kSamples = 400;
static constexpr int kFramesASample = 100;

// Microseconds a frame, the median over samples of many frames, the two ways taking turns so that
// whatever else the machine does weighs on both alike.
static double AddedUs(void (*kept)(), void (*bare)())
{
    std::vector<double> samples[2];
    for (int sample = 0; sample < 2 * kSamples; ++sample) {
        void (*frame)() = sample % 2 == 0 ? kept : bare;
        const double start = NowMs();
        for (int i = 0; i < kFramesASample; ++i)
            frame();
        samples[sample % 2].push_back((NowMs() - start) * 1000 / kFramesASample);
    }
    return Median(samples[0]) - Median(samples[1]);
}

static void KeptFrame()
{
    g_updateCallback.Run();
    g_renderCallback.Run();
}

static void BareFrame()
{
    std::string error;
    RunQuietly("update()", error);
    RunQuietly("render()", error);
}

static double ResidentMiB()
{
    return ResidentKiB() / 1024.0;
}

int RunErrorBench(BenchResults& results)
{
    InitLua();
    RunLuaString("function update() end function render() end");
    KeptFrame();
    results.Add("errors.clean_us", AddedUs(KeptFrame, BareFrame));
    // The only version, failing from its second frame on: called every frame, each error counted.
    RunLuaString("n = 0 function render() n = n + 1 if n > 1 then error('pulse is nil', 0) end end");
    KeptFrame();
    results.Add("errors.failing_us", AddedUs(KeptFrame, BareFrame));
    CloseLua();

    InitLua();
    const double before = ResidentMiB();
    RunLuaString("t = {} for i = 1, 1e9 do t[i] = {i, i, i, i} end");
    results.Add("errors.oom_full_mib", ResidentMiB() - before);
    std::string output, error;
    ExecuteLua("t = nil", output, error);
    results.Add("errors.oom_next_command_failed", error.empty() ? 0 : 1);
    ExecuteLua("collectgarbage()", output, error);
    results.Add("errors.oom_kept_mib", ResidentMiB() - before);
    CloseLua();
    return 0;
}
