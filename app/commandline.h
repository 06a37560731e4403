#pragma once
// The program's command line: a scene folder, the capture and its options, --help and
// --version. The toolkit's own options (-platform, -display, -style ...) are passed on to it.

#include <string>
#include <vector>

#include "capture/capturesettings.h"

struct CommandLine {
    enum class Action { Play, Capture, Help, Version, Error };

    Action action = Action::Play;
    // The scene's folder, "" for the working directory.
    std::string folder;
    CaptureSettings capture;
    // What is wrong, for Action::Error.
    std::string error;
    // The program's name and the toolkit's options with their values, null-terminated, for the
    // application object, which keeps them for its lifetime.
    std::vector<char*> toolkitArguments;
    int toolkitArgumentCount = 0;
};

// Reads the arguments without touching a display. A relative capture file is taken from the
// working directory now; FOLDER must be an existing folder.
CommandLine ParseCommandLine(int argc, char* argv[]);

// What the command line asks before anything starts: prints the help, the version, or the error
// and the usage line, or makes FOLDER the working directory. The exit status when the program
// ends here, -1 when it goes on.
int ApplyCommandLine(const CommandLine& line);
