#include <QApplication>
#include <QGuiApplication>
#include <QSurfaceFormat>

#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/soundtrack.h"
#include "app/synclink.h"
#include "app/windowsystem.h"
#include "capture/capture.h"
#include "world/viewgl.h"

#include <cstdio>
#include <cstdlib>

static constexpr int kNoDisplay = 2;

int main(int argc, char* argv[])
{
    CommandLine line = ParseCommandLine(argc, argv);
    if (const int status = ApplyCommandLine(line); status >= 0)
        return status;
    // Before any window or context: every GL surface of the program takes this format.
    SetProcessOptions();
    QSurfaceFormat::setDefaultFormat(ViewSurfaceFormat());
    if (line.action == CommandLine::Action::Capture) {
        Capture capture(line.capture);
        if (!capture.Prepare())
            return kCaptureBadInput;
        // Segments are drawn by processes of their own, which find or make their display.
        if (line.capture.segments > 0)
            return capture.Run();
        if (const std::string problem = DisplayProblem(line.platform, line.display); !problem.empty()) {
            std::fprintf(stderr, "quillmere: --capture draws with OpenGL on a display, and %s (run it "
                         "under xvfb-run, or scripts/capture in the source tree)\n", problem.c_str());
            return kCaptureBadInput;
        }
        // With no session bus named, the bus library that SDL's audio start-up calls forks to
        // launch one, from the analysis thread, beside the drawing threads (a child that, in a
        // sanitized build, can stall for ever before its exec). A capture plays no sound and needs
        // no bus: one that cannot be reached makes the call fail at once. A bus that is named stays.
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
        QGuiApplication application(line.toolkitArgumentCount, line.toolkitArguments.data());
        return capture.Run();
    }
    if (const std::string problem = DisplayProblem(line.platform, line.display); !problem.empty()) {
        std::fprintf(stderr, "quillmere: no display to open the window on: %s (run it on a desktop, "
                     "or try scripts/demo --headless in the source tree)\n", problem.c_str());
        return kNoDisplay;
    }
    ChooseSoundtrack(line.capture.musicPath, line.capture.music, line.hold);
    ChooseSyncEditor(line.syncHost, line.syncPort);
    QApplication application(line.toolkitArgumentCount, line.toolkitArguments.data());
    int result;
    {
        MainWindow window(line.show);
        window.show();
        result = application.exec();
    }
    return result;
}
