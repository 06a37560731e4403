#pragma once
// The program's command line: a scene folder, the soundtrack, the player and the pace, the sync
// editor, the capture and its options, --help and --version. The toolkit's own options
// (-platform, -display, -style ...) are passed on to it.

#include <string>
#include <vector>

#include "app/showsettings.h"
#include "capture/capturesettings.h"

struct CommandLine {
    enum class Action { Play, Capture, Help, Version, Error };

    Action action = Action::Play;
    // The scene's folder, "" for the working directory.
    std::string folder;
    // The window stays open at the music's end instead of ending the program.
    bool hold = false;
    // The sync editor the window connects to; an empty host for none (--sync off).
    std::string syncHost = "127.0.0.1";
    int syncPort = 1338;
    // The player, its window size and the window's pace (--fps is also the capture's rate).
    ShowSettings show;
    // Also the soundtrack of the window (music, musicPath).
    CaptureSettings capture;
    // What is wrong, for Action::Error.
    std::string error;
    // The values of the toolkit's -platform and -display, "" when not given.
    std::string platform;
    std::string display;
    // The program's name and the toolkit's options with their values, null-terminated, for the
    // application object, which keeps them for its lifetime.
    std::vector<char*> toolkitArguments;
    int toolkitArgumentCount = 0;
};

// Reads the arguments without touching a display. A relative capture or music file is taken
// from the working directory now; FOLDER must be an existing folder, or a prod.lua in one.
CommandLine ParseCommandLine(int argc, char* argv[]);

// What the command line asks before anything starts: prints the help, the version, or the error
// and the usage line, or makes FOLDER the working directory. The exit status when the program
// ends here, -1 when it goes on.
int ApplyCommandLine(const CommandLine& line);
