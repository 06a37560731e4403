// Capture speed: the demo rendered into a video at 1280x720, seconds of video made per second of
// wall time, with a frame's time split between drawing (tick, draw and the wait for the
// rasteriser), reading the pixels back, and waiting for ffmpeg to take them.

#include <cstdio>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "capture/capture.h"

static constexpr double kFrom = 30;
static constexpr double kTo = 40;

static bool MeasureCapture(BenchResults& results, int fps)
{
    CaptureSettings settings;
    settings.file = "capture-bench.mp4";
    settings.path = settings.file;
    settings.fps = fps;
    settings.from = kFrom;
    settings.to = kTo;
    Capture capture(settings);
    if (!capture.Prepare() || capture.Run() != 0)
        return false;
    std::remove(settings.path.c_str());
    const CaptureTimes& t = capture.times;
    const std::string key = "capture." + std::to_string(fps) + ".";
    results.Add(key + "speed", (kTo - kFrom) / t.total);
    results.Add(key + "frame_ms", 1000 * t.total / t.frames);
    results.Add(key + "draw_ms", 1000 * t.draw / t.frames);
    results.Add(key + "readback_ms", 1000 * t.readback / t.frames);
    results.Add(key + "encoder_ms", 1000 * t.encoderWait / t.frames);
    return true;
}

int RunCaptureBench(BenchResults& results)
{
    for (int fps : {30, 60}) {
        if (!MeasureCapture(results, fps))
            return 1;
    }
    return 0;
}
