// Start-up: from the moment the process is started to the first frame shown. The parent takes
// the time just before it forks; the child is this program built as the entry point builds it,
// and reports when the first frame has been drawn and swapped onto the exposed view.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include "app/mainwindow.h"
#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "world/openglemptyworldwidget.h"

static constexpr int kRuns = 9;
static constexpr int kReportFd = 3;
static const char kStartVariable[] = "QMB_START_MS";

static double OneStart(char* self)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
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
    char text[64] = {0};
    const ssize_t length = read(pipeFds[0], text, sizeof text - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return length > 0 ? std::atof(text) : -1;
}

int RunStartupBench(BenchResults& results, char* self)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const double ms = OneStart(self);
        if (ms < 0)
            return 1;
        times.push_back(ms);
    }
    results.Add("startup.first_frame_ms", Median(times));
    results.Add("startup.first_frame_max_ms", *std::max_element(times.begin(), times.end()));
    return 0;
}

int RunStartupChild()
{
    const char* startText = std::getenv(kStartVariable);
    const double start = startText ? std::atof(startText) : NowMs();
    int argc = 1;
    char name[] = "quillmere";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    MainWindow window;
    window.show();
    OpenGLEmptyWorldWidget* view = View();
    // Connected after the view's own slot, so it runs once the frame has been swapped.
    QObject::connect(view->frameTimer, &QTimer::timeout, view, [&] {
        if (!view->isExposed())
            return;
        const std::string text = std::to_string(NowMs() - start) + "\n";
        if (write(kReportFd, text.data(), text.size()) < 0)
            std::perror("bench");
        application.quit();
    });
    return application.exec();
}
