// Resident memory after start-up, and its growth over many failing frames and many console
// commands. Growth is counted from after a warm-up, so that caches filled once do not count.

#include <malloc.h>

#include <QCoreApplication>
#include <QTimer>
#include <QTest>
#include <QTextDocument>

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "bench/trianglefield.h"
#include "console/repledit.h"
#include "script/luaengine.h"
#include "world/openglemptyworldwidget.h"

extern "C" {
#include <lua.h>
}

static constexpr int kFrames = 100000;
static constexpr int kWarmFrames = 2000;
static constexpr int kFramesBetweenEvents = 100;
static constexpr int kTrianglesPerFrame = 1000;
static constexpr int kCommands = 10000;
static constexpr int kWarmCommands = 200;
static const char kCommand[] = "return 1, 'two', {3}";
// A hundred thousand full-size frames would take far longer than the whole bench may; a small
// window keeps every frame whole (tick, draw, swap) on a smaller surface.
static constexpr int kSmallWindowWidth = 400;
static constexpr int kSmallWindowHeight = 440;

static void RunFrames(OpenGLEmptyWorldWidget* view, int frames)
{
    for (int i = 0; i < frames; ++i) {
        view->UpdateFrame();
        if (i % kFramesBetweenEvents == 0)
            QCoreApplication::processEvents();
    }
    view->frameTimer->stop();
}

static void RunCommands(REPLEdit* repl, int commands)
{
    for (int i = 0; i < commands; ++i) {
        QTest::keyClicks(repl, kCommand);
        QTest::keyClick(repl, Qt::Key_Return);
        if (i % kFramesBetweenEvents == 0)
            QCoreApplication::processEvents();
    }
}

// Resident memory with the script's garbage collected and the allocator's free pages handed
// back, so that growth means memory still in use.
static double SettledMiB()
{
    QCoreApplication::processEvents();
    lua_gc(g_luaState, LUA_GCCOLLECT, 0);
    malloc_trim(0);
    return ResidentKiB() / 1024.0;
}

int RunMemoryBench(BenchResults& results)
{
    StartProgramWindow();
    results.Add("memory.startup_mib", ResidentKiB() / 1024.0);
    StopFrameLoop();
    OpenGLEmptyWorldWidget* view = View();
    g_mainWindow->showNormal();
    g_mainWindow->resize(kSmallWindowWidth, kSmallWindowHeight);
    Spin(500);

    const TriangleField field(kTrianglesPerFrame);
    field.InstallScriptRender();
    RunLuaString("function update() error('update fails on every frame') end");
    RunFrames(view, kWarmFrames);
    const double beforeFrames = SettledMiB();
    const double start = NowMs();
    RunFrames(view, kFrames);
    results.Add("memory.frame_ms", (NowMs() - start) / kFrames);
    results.Add("memory.frames_growth_mib", SettledMiB() - beforeFrames);

    REPLEdit* repl = g_mainWindow->ui->repl;
    RunCommands(repl, kWarmCommands);
    const double beforeCommands = SettledMiB();
    RunCommands(repl, kCommands);
    const double afterCommands = SettledMiB();
    results.Add("memory.commands_growth_mib", afterCommands - beforeCommands);
    results.Add("memory.commands_blocks", repl->document()->blockCount());
    // The scrollback is kept by design; what stays after emptying it is what the commands
    // themselves left behind.
    repl->clear();
    repl->ShowPrompt();
    const double emptied = SettledMiB();
    results.Add("memory.commands_growth_without_scrollback_mib", emptied - beforeCommands);
    // Allocator pools and caches settle after the first batch; a leak would grow again.
    RunCommands(repl, kCommands);
    repl->clear();
    repl->ShowPrompt();
    results.Add("memory.commands_second_batch_growth_mib", SettledMiB() - emptied);
    return 0;
}
