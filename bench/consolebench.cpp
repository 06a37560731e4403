// The console with a long scrollback: a key press handled and painted, and Return on print(1)
// until the next prompt is painted. The frame loop is stopped so that no frame falls inside a
// sample; each sample ends with a synchronous repaint of the console. Then, with the frame loop
// running again, Return on commands with very long output, and the longest gap between two
// frames around each.

#include <algorithm>
#include <string>
#include <vector>

#include <QSplitter>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "console/repledit.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kScrollbackLines = 100000;
static constexpr int kSamples = 31;
static constexpr int kOpenConsoleHeight = 300;
static constexpr int kLongOutputSamples = 5;
static constexpr int kFramesAround = 300;  // ms of frames before and after a command

struct LongOutput {
    const char* key;
    const char* command;
};
static const LongOutput kLongOutputs[] = {
    {"lines", "for i = 1, 100000 do print(i) end"},
    {"line", "print(string.rep(\"x\", 1000000))"},
};

// Return on each long-output command with the frame loop running: until the next prompt is
// painted, and the longest time between two frames from just before to just after it.
static void MeasureLongOutput(BenchResults& results, REPLEdit* repl)
{
    OpenGLEmptyWorldWidget* view = View();
    std::vector<double> frames;
    QObject::connect(view->frameTimer, &QTimer::timeout, view, &OpenGLEmptyWorldWidget::UpdateFrame);
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] { frames.push_back(NowMs()); });
    view->frameTimer->start(10);
    for (const LongOutput& o : kLongOutputs) {
        std::vector<double> returns, gaps;
        for (int i = 0; i < kLongOutputSamples; ++i) {
            QTest::keyClicks(repl, o.command);
            Spin(kFramesAround);
            const double start = NowMs();
            const double lastBefore = frames.empty() ? start : frames.back();
            frames.clear();
            QTest::keyClick(repl, Qt::Key_Return);
            repl->viewport()->repaint();
            returns.push_back(NowMs() - start);
            Spin(kFramesAround);
            double gap = 0;
            for (size_t f = 1; f < frames.size(); ++f)
                gap = std::max(gap, frames[f] - frames[f - 1]);
            // The first frame after the command closes the gap that began before it.
            gaps.push_back(frames.empty() ? 0 : std::max(gap, frames.front() - lastBefore));
        }
        results.Add(std::string("console.long_") + o.key + ".return_ms", Median(returns));
        results.Add(std::string("console.long_") + o.key + ".frame_gap_ms", Median(gaps));
    }
}

int RunConsoleBench(BenchResults& results)
{
    StartProgramWindow();
    StopFrameLoop();
    Ui_MainWindow* ui = g_mainWindow->ui;
    REPLEdit* repl = ui->repl;
    const int total = ui->splitter->height();
    ui->splitter->setSizes(QList<int>{total - kOpenConsoleHeight, kOpenConsoleHeight});

    QStringList lines;
    lines.reserve(kScrollbackLines);
    for (int i = 0; i < kScrollbackLines; ++i)
        lines << QString("scrollback line %1 of the earlier output").arg(i);
    double start = NowMs();
    repl->append(lines.join('\n'));
    repl->ShowPrompt();
    results.Add("console.fill_ms", NowMs() - start);
    Spin(1000);

    std::vector<double> keys, returns;
    for (int i = 0; i < kSamples; ++i) {
        start = NowMs();
        QTest::keyClick(repl, Qt::Key_A);
        repl->viewport()->repaint();
        keys.push_back(NowMs() - start);
        QTest::keyClick(repl, Qt::Key_Backspace);
        Spin(5);
    }
    for (int i = 0; i < kSamples; ++i) {
        QTest::keyClicks(repl, "print(1)");
        start = NowMs();
        QTest::keyClick(repl, Qt::Key_Return);
        repl->viewport()->repaint();
        returns.push_back(NowMs() - start);
        Spin(5);
    }
    results.Add("console.key_ms", Median(keys));
    results.Add("console.return_ms", Median(returns));
    results.Add("console.blocks", repl->document()->blockCount());
    MeasureLongOutput(results, repl);
    return 0;
}
