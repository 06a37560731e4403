#include <QApplication>
#include <QGuiApplication>

#include "app/commandline.h"
#include "app/mainwindow.h"
#include "capture/capture.h"
#include "world/viewgl.h"

#include <cstdio>

static constexpr int kNoDisplay = 2;

int main(int argc, char* argv[])
{
    CommandLine line = ParseCommandLine(argc, argv);
    if (const int status = ApplyCommandLine(line); status >= 0)
        return status;
    if (line.action == CommandLine::Action::Capture) {
        Capture capture(line.capture);
        if (!capture.Prepare())
            return kCaptureBadInput;
        QGuiApplication application(line.toolkitArgumentCount, line.toolkitArguments.data());
        return capture.Run();
    }
    if (!DisplayAvailable(line.capture.windowSystemGiven)) {
        std::fputs("quillmere: no display to open the window on: DISPLAY is not set (run it on a "
                   "desktop, or try scripts/demo --headless in the source tree)\n", stderr);
        return kNoDisplay;
    }
    QApplication application(line.toolkitArgumentCount, line.toolkitArguments.data());
    int result;
    {
        MainWindow window;
        window.show();
        result = application.exec();
    }
    return result;
}
