// Capture speed: the demo rendered into a video at 1280x720, seconds of video made per second of
// wall time, with a frame's time split between drawing (tick, draw and the wait for the
// rasteriser), reading the pixels back, and waiting for ffmpeg to take them; what the frames
// before --from cost; and a minute of it in one process against two segments.

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "capture/capture.h"

static constexpr double kFrom = 30;
static constexpr double kTo = 40;
static constexpr double kMinute = 60;

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
    // The frames before --from are timed apart: update() from the music's start, and the run-up.
    results.Add(key + "run_up_s", t.runUp);
    const double frames = t.total - t.runUp;
    results.Add(key + "speed", (kTo - kFrom) / frames);
    results.Add(key + "frame_ms", 1000 * frames / t.frames);
    results.Add(key + "draw_ms", 1000 * t.draw / t.frames);
    results.Add(key + "readback_ms", 1000 * t.readback / t.frames);
    results.Add(key + "encoder_ms", 1000 * t.encoderWait / t.frames);
    return true;
}

// The frames before --from without a run-up drawn: update() alone for each of them.
static bool MeasureCatchUp(BenchResults& results)
{
    CaptureSettings settings;
    settings.file = "capture-bench.mp4";
    settings.path = settings.file;
    settings.from = kFrom;
    settings.to = kFrom + 1;
    settings.runUp = 0;
    Capture capture(settings);
    if (!capture.Prepare() || capture.Run() != 0)
        return false;
    std::remove(settings.path.c_str());
    results.Add("capture.60.catch_up_s", capture.times.runUp);
    return true;
}

int RunCaptureBench(BenchResults& results)
{
    for (int fps : {30, 60}) {
        if (!MeasureCapture(results, fps))
            return 1;
    }
    return MeasureCatchUp(results) ? 0 : 1;
}

// A minute of the demo at 1280x720 and 60 fps, from kFrom: in this process, and in two segments,
// each a process of the program built beside this one, through GNU parallel on this machine.
int RunCaptureSegmentsBench(BenchResults& results)
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    char* cwd = getcwd(nullptr, 0);
    const std::string folder = cwd ? cwd : "";
    std::free(cwd);
    if (length <= 0 || folder.empty())
        return 1;
    const std::string self(path, size_t(length));
    for (int segments : {0, 2}) {
        CaptureSettings settings;
        settings.folder = folder;
        settings.file = "capture-minute.mp4";
        settings.path = settings.folder + "/" + settings.file;
        settings.program = self.substr(0, self.rfind('/') + 1) + "quillmere";
        settings.from = kFrom;
        settings.to = kFrom + kMinute;
        settings.segments = segments;
        Capture capture(settings);
        if (!capture.Prepare() || capture.Run() != 0)
            return 1;
        std::remove(settings.path.c_str());
        results.Add(segments ? "capture.minute.segments2_s" : "capture.minute.whole_s", capture.times.total);
    }
    return 0;
}
