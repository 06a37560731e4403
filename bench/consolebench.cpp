// The console with a long scrollback: a key press handled and painted, and Return on print(1)
// until the next prompt is painted. The frame loop is stopped so that no frame falls inside a
// sample; each sample ends with a synchronous repaint of the console. Then, with the frame loop
// running again, Return on commands with very long output, and the longest gap between two
// frames around each; and 1 MB pasted, as one line and as many short ones: the longest gap
// between frames around the paste, and Return on it.

#include <algorithm>
#include <string>
#include <vector>

#include <QClipboard>
#include <QGuiApplication>
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
static constexpr int kPastedLineBytes = 1000000;

struct LongOutput {
    const char* key;
    const char* command;
};
static const LongOutput kLongOutputs[] = {
    {"lines", "for i = 1, 100000 do print(i) end"},
    {"line", "print(string.rep(\"x\", 1000000))"},
};

// The longest time between two frames, the first of them lastBefore, the last frame before the
// step measured: the first frame after the step closes the gap that began before it.
static double LongestGap(const std::vector<double>& frames, double lastBefore)
{
    double gap = frames.empty() ? 0 : frames.front() - lastBefore;
    for (size_t f = 1; f < frames.size(); ++f)
        gap = std::max(gap, frames[f] - frames[f - 1]);
    return gap;
}

// 1 MB pasted with Ctrl+V and run with Return, the frame loop running: one line, or short lines.
static void MeasurePaste(BenchResults& results, const std::string& key, const QString& text, REPLEdit* repl,
                         std::vector<double>& frames)
{
    QGuiApplication::clipboard()->setText(text);
    std::vector<double> gaps, returns;
    for (int i = 0; i < kLongOutputSamples; ++i) {
        Spin(kFramesAround);
        const double lastBefore = frames.empty() ? NowMs() : frames.back();
        frames.clear();
        QTest::keyClick(repl, Qt::Key_V, Qt::ControlModifier);
        Spin(kFramesAround);
        gaps.push_back(LongestGap(frames, lastBefore));
        const double start = NowMs();
        QTest::keyClick(repl, Qt::Key_Return);
        repl->viewport()->repaint();
        returns.push_back(NowMs() - start);
    }
    results.Add("console." + key + ".paste_gap_ms", Median(gaps));
    results.Add("console." + key + ".return_ms", Median(returns));
}

static void MeasurePastes(BenchResults& results, REPLEdit* repl, std::vector<double>& frames)
{
    MeasurePaste(results, "pasted_line", "x = \"" + QString(kPastedLineBytes, 'x') + "\" print(#x)", repl, frames);
    QStringList lines;
    for (int bytes = 0; bytes < kPastedLineBytes; bytes += int(lines.last().size()) + 1)
        lines << QString("n = %1").arg(lines.size());
    MeasurePaste(results, "pasted_lines", lines.join('\n'), repl, frames);
}

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
            gaps.push_back(LongestGap(frames, lastBefore));
        }
        results.Add(std::string("console.long_") + o.key + ".return_ms", Median(returns));
        results.Add(std::string("console.long_") + o.key + ".frame_gap_ms", Median(gaps));
    }
    MeasurePastes(results, repl, frames);
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
