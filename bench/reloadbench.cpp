// Reload: from the save of a changed prod.lua to the first frame drawn with it, the settling
// time included. Each save writes prod.lua in place with a new marker that update() copies; a
// slot connected after the view's own frame slot notes the first frame drawn after a copy.

#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/luaengine.h"
#include "world/openglemptyworldwidget.h"

extern "C" {
#include <lua.h>
}

static constexpr int kSaves = 9;
// Far enough apart that every save settles and reloads on its own.
static constexpr int kPauseMs = 400;
static constexpr int kTimeoutMs = 5000;

static bool SaveScript(int marker)
{
    std::FILE* file = std::fopen("prod.lua", "w");
    if (!file)
        return false;
    std::fprintf(file, "benchMarker = %d\nfunction update() benchSeen = benchMarker end\n", marker);
    return std::fclose(file) == 0;
}

static int SeenMarker()
{
    lua_getglobal(g_luaState, "benchSeen");
    const int seen = int(lua_tointeger(g_luaState, -1));
    lua_pop(g_luaState, 1);
    return seen;
}

int RunReloadBench(BenchResults& results)
{
    if (!SaveScript(0))
        return 1;
    StartProgramWindow();
    OpenGLEmptyWorldWidget* view = View();
    int drawnMarker = 0;
    double drawnAt = 0;
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] {
        const int seen = SeenMarker();
        if (seen != drawnMarker) {
            drawnMarker = seen;
            drawnAt = NowMs();
        }
    });

    std::vector<double> latencies;
    for (int marker = 1; marker <= kSaves; ++marker) {
        Spin(kPauseMs);
        if (!SaveScript(marker))
            return 1;
        const double saved = NowMs();
        QElapsedTimer clock;
        clock.start();
        while (drawnMarker != marker && clock.elapsed() < kTimeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (drawnMarker != marker) {
            std::fprintf(stderr, "bench: save %d did not reach a frame\n", marker);
            return 1;
        }
        latencies.push_back(drawnAt - saved);
    }
    results.Add("reload.first_frame_ms", Median(latencies));
    results.Add("reload.first_frame_max_ms", *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
