// Start-up: from the moment the process is started to the first frame shown. The parent takes
// the time just before it forks; the child is this program built as the entry point builds it,
// and reports when the first frame has been drawn and swapped onto the exposed view, with the
// steps on the way there: the process up to main (loading and linking its libraries), the
// toolkit, the window (form, script engine, prod.lua, and its showing, which loads the GL
// driver and the fonts), the first paint on the exposed view (the GL context and the first
// frame's shaders compiled by the driver), and, after the first frame, the soundtrack started.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/soundtrack.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kRuns = 9;
static constexpr int kReportFd = 3;
static constexpr int kSoundtrackWaitMs = 3000;
static const char kStartVariable[] = "QMB_START_MS";
// The steps the child reports, in their order; the first frame is the goal's figure.
static const char* const kSteps[] = {"main", "toolkit", "window", "first_paint", "first_frame", "soundtrack"};

using Steps = std::map<std::string, double>;

// One start: each step's time from the fork on, as the child reported it in "name ms" lines.
static Steps OneStart(char* self)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    const double start = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], kReportFd);
        close(pipeFds[0]);
        setenv(kStartVariable, std::to_string(start).c_str(), 1);
        char mode[] = "startup-child";
        char* argv[] = {self, mode, nullptr};
        execv(self, argv);
        _exit(127);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Steps steps;
    std::istringstream lines(text);
    std::string name;
    for (double ms; lines >> name >> ms;)
        steps[name] = ms;
    return steps;
}

int RunStartupBench(BenchResults& results, char* self)
{
    std::map<std::string, std::vector<double>> times;
    for (int i = 0; i < kRuns; ++i) {
        const Steps steps = OneStart(self);
        if (!steps.count("first_frame"))
            return 1;
        for (const auto& [name, ms] : steps)
            times[name].push_back(ms);
    }
    const std::vector<double>& frames = times["first_frame"];
    results.Add("startup.first_frame_ms", Median(frames));
    results.Add("startup.first_frame_max_ms", *std::max_element(frames.begin(), frames.end()));
    for (const char* step : kSteps)
        if (times.count(step))
            results.Add(std::string("startup.") + step + "_ms", Median(times[step]));
    return 0;
}

// Notes when the first expose reaches the view; the paint it causes has been swapped once the
// event has been handled.
class FirstPaintWatch : public QObject {
public:
    explicit FirstPaintWatch(std::FILE* report, double start) : report(report), start(start) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* view = static_cast<OpenGLEmptyWorldWidget*>(watched);
        if (event->type() == QEvent::Expose && !seen && view->isExposed()) {
            seen = true;
            QTimer::singleShot(0, this, [this] { std::fprintf(report, "first_paint %f\n", NowMs() - start); });
        }
        return false;
    }

private:
    std::FILE* report;
    double start;
    bool seen = false;
};

int RunStartupChild()
{
    const char* startText = std::getenv(kStartVariable);
    const double start = startText ? std::atof(startText) : NowMs();
    std::FILE* report = fdopen(kReportFd, "w");
    if (!report)
        return 1;
    std::fprintf(report, "main %f\n", NowMs() - start);
    int argc = 1;
    char name[] = "quillmere";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    std::fprintf(report, "toolkit %f\n", NowMs() - start);
    MainWindow window;
    std::fprintf(report, "window %f\n", NowMs() - start);
    window.show();
    OpenGLEmptyWorldWidget* view = View();
    FirstPaintWatch firstPaint(report, start);
    view->installEventFilter(&firstPaint);
    // The soundtrack starts after the first frame; without one in the folder nothing is noted.
    QTimer poll;
    // Connected after the view's own slot, so it runs once the frame has been swapped.
    bool frameShown = false;
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] {
        if (frameShown || !view->isExposed())
            return;
        frameShown = true;
        std::fprintf(report, "first_frame %f\n", NowMs() - start);
        poll.start(1);
    });
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (g_soundtrackStream)
            std::fprintf(report, "soundtrack %f\n", NowMs() - start);
        if (g_soundtrackStream || NowMs() - start > kSoundtrackWaitMs)
            application.quit();
    });
    const int status = application.exec();
    std::fclose(report);
    return status;
}
