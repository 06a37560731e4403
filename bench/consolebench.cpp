// The console with a long scrollback: a key press handled and painted, and Return on print(1)
// until the next prompt is painted. The frame loop is stopped so that no frame falls inside a
// sample; each sample ends with a synchronous repaint of the console.

#include <string>
#include <vector>

#include <QSplitter>
#include <QStringList>
#include <QTest>

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "console/repledit.h"

static constexpr int kScrollbackLines = 100000;
static constexpr int kSamples = 31;
static constexpr int kOpenConsoleHeight = 300;

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
    return 0;
}
