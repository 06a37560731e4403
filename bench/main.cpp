// quillmere_bench MODE RESULTS: runs one benchmark in the working directory and appends its
// figures to the file RESULTS. Modes: draw-check, frame-empty, frame-demo, frame-music, pacing,
// draw, console, memory, startup, reload, capture, capture-segments, strip, shaders, analysis,
// mesh, sync, errors, text, clock, churn.

#include <cstdio>
#include <cstring>

#include <QApplication>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "world/viewgl.h"

int main(int argc, char* argv[])
{
    SetProcessOptions();
    QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
    if (argc == 2 && std::strcmp(argv[1], "startup-child") == 0)
        return RunStartupChild();
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillmere_bench MODE RESULTS\n");
        return 2;
    }
    const char* mode = argv[1];
    BenchResults results(argv[2]);
    if (!results.IsOpen()) {
        std::perror(argv[2]);
        return 2;
    }
    if (std::strcmp(mode, "startup") == 0)
        return RunStartupBench(results, argv[0]);

    QApplication application(argc, argv);
    if (std::strcmp(mode, "frame-empty") == 0)
        return RunFrameBench(results, "empty");
    if (std::strcmp(mode, "frame-demo") == 0)
        return RunFrameBench(results, "demo");
    if (std::strcmp(mode, "frame-music") == 0)
        return RunFrameBench(results, "music");
    if (std::strcmp(mode, "pacing") == 0)
        return RunPacingBench(results);
    if (std::strcmp(mode, "draw-check") == 0)
        return RunDrawCheck();
    if (std::strcmp(mode, "draw") == 0)
        return RunDrawBench(results);
    if (std::strcmp(mode, "console") == 0)
        return RunConsoleBench(results);
    if (std::strcmp(mode, "memory") == 0)
        return RunMemoryBench(results);
    if (std::strcmp(mode, "reload") == 0)
        return RunReloadBench(results);
    if (std::strcmp(mode, "capture") == 0)
        return RunCaptureBench(results);
    if (std::strcmp(mode, "capture-segments") == 0)
        return RunCaptureSegmentsBench(results);
    if (std::strcmp(mode, "strip") == 0)
        return RunStripBench(results);
    if (std::strcmp(mode, "text") == 0)
        return RunTextBench(results);
    if (std::strcmp(mode, "shaders") == 0)
        return RunShaderBench(results);
    if (std::strcmp(mode, "analysis") == 0)
        return RunAnalysisBench(results);
    if (std::strcmp(mode, "mesh") == 0)
        return RunMeshBench(results);
    if (std::strcmp(mode, "sync") == 0)
        return RunSyncBench(results);
    if (std::strcmp(mode, "errors") == 0)
        return RunErrorBench(results);
    if (std::strcmp(mode, "clock") == 0)
        return RunClockBench(results);
    if (std::strcmp(mode, "churn") == 0)
        return RunChurnBench(results);
    std::fprintf(stderr, "quillmere_bench: unknown mode %s\n", mode);
    return 2;
}
