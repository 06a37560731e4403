#include "app/commandline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

static constexpr int kBadUsage = 2;
static constexpr int kLargestFps = 1000;
static constexpr long kSmallestSide = 2;
static constexpr long kLargestSide = 16384;
static constexpr double kSecondsPerMinute = 60;

static const char kUsage[] =
    "usage: quillmere [FOLDER] [--capture FILE [--fps N] [--size WxH] [--from SECONDS] "
    "[--to SECONDS] [--no-overlays]] [--help] [--version]";

static const char kHelp[] =
    "Plays the scene prod.lua of FOLDER (default: the working directory) with its soundtrack\n"
    "Ondrelle.mp3, in a window with a Lua console, or captures it into a video file.\n"
    "\n"
    "  FOLDER           the scene's folder, which becomes the working directory\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n"
    "  --capture FILE   render the scene offline into the video FILE (.mp4, .m4v, .mov, .mkv) and exit\n"
    "  --fps N          video frames a second, one frame of the program each (default 60)\n"
    "  --size WxH       video size in pixels, both even (default 1280x720)\n"
    "  --from SECONDS   music time of the first frame, seconds or M:SS (default 0)\n"
    "  --to SECONDS     music time where the video ends (default: the music's end, 10 without music)\n"
    "  --no-overlays    leave the grid, the ground box and the pivot marker out of the video\n"
    "  -platform NAME, -display DISPLAY, -style NAME, -qwindowgeometry WxH+X+Y ...  Qt's own\n"
    "\n"
    "Exit status: 0 the window was closed or the video written, 1 the music ended, 2 bad command\n"
    "line or input, 3 ffmpeg or OpenGL failed during a capture, 130 or 143 a capture stopped by\n"
    "SIGINT or SIGTERM. The manual page quillmere(1) has the details.\n";

// The toolkit's options; those in the second list take the next argument as their value.
static const char* const kToolkitFlags[] = {
    "reverse", "testability", "widgetcount", "nograb", "dograb", "sync",
};
static const char* const kToolkitOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowicon", "icon", "qwindowtitle", "title", "session", "style", "stylesheet", "display",
    "name", "visual", "qmljsdebugger",
};

// "-name", "--name" and "-name=value" all name "name".
static std::string ToolkitOptionName(const std::string& argument)
{
    const std::string name = argument.substr(argument.size() > 1 && argument[1] == '-' ? 2 : 1);
    return name.substr(0, name.find('='));
}

// 0: not the toolkit's; 1: the toolkit's, alone; 2: the toolkit's, with the next argument.
static int ToolkitArgumentCount(const std::string& argument)
{
    if (argument.size() < 2 || argument[0] != '-')
        return 0;
    const std::string name = ToolkitOptionName(argument);
    const bool valueAttached = argument.find('=') != std::string::npos;
    for (const char* flag : kToolkitFlags) {
        if (name == flag && !valueAttached)
            return 1;
    }
    for (const char* option : kToolkitOptionsWithValue) {
        if (name == option)
            return valueAttached ? 1 : 2;
    }
    return 0;
}

static bool ParseWhole(const std::string& text, long& value)
{
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-'))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

// Seconds, or minutes and seconds as M:SS.
static bool ParseSeconds(const std::string& text, double& seconds)
{
    const size_t colon = text.find(':');
    long minutes = 0;
    if (colon != std::string::npos && !ParseWhole(text.substr(0, colon), minutes))
        return false;
    const std::string rest = colon == std::string::npos ? text : text.substr(colon + 1);
    char* end = nullptr;
    seconds = std::strtod(rest.c_str(), &end);
    if (rest.empty() || *end != '\0' || !std::isfinite(seconds))
        return false;
    if (colon != std::string::npos && (minutes < 0 || seconds < 0 || seconds >= kSecondsPerMinute))
        return false;
    seconds += double(minutes) * kSecondsPerMinute;
    return seconds >= 0;
}

static bool HasVideoExtension(const std::string& file)
{
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos || file.find('/', dot) != std::string::npos)
        return false;
    std::string extension = file.substr(dot + 1);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* known : {"mp4", "m4v", "mov", "mkv"}) {
        if (extension == known)
            return true;
    }
    return false;
}

static std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char* cwd = getcwd(nullptr, 0);
    const std::string absolute = std::string(cwd ? cwd : ".") + "/" + path;
    std::free(cwd);
    return absolute;
}

// Sets the capture setting that the option names from its value; the problem otherwise.
static std::string SetCaptureOption(CaptureSettings& capture, const std::string& name,
                                    const std::string& value)
{
    long whole = 0;
    if (name == "--capture") {
        if (!HasVideoExtension(value))
            return "--capture takes a video file ending in .mp4, .m4v, .mov or .mkv, not '" + value + "'";
        capture.file = value;
        capture.path = Absolute(value);
    } else if (name == "--fps") {
        if (!ParseWhole(value, whole) || whole < 1 || whole > kLargestFps)
            return "--fps takes a whole number of frames a second from 1 to "
                + std::to_string(kLargestFps) + ", not '" + value + "'";
        capture.fps = int(whole);
    } else if (name == "--size") {
        const size_t x = value.find('x');
        long width = 0, height = 0;
        if (x == std::string::npos || !ParseWhole(value.substr(0, x), width)
            || !ParseWhole(value.substr(x + 1), height) || width < kSmallestSide
            || height < kSmallestSide || width > kLargestSide || height > kLargestSide
            || width % 2 != 0 || height % 2 != 0)
            return "--size takes WIDTHxHEIGHT in pixels, both even and from 2 to "
                + std::to_string(kLargestSide) + ", not '" + value + "'";
        capture.width = int(width);
        capture.height = int(height);
    } else {
        double seconds = 0;
        if (!ParseSeconds(value, seconds))
            return name + " takes a music time from 0 on, in seconds or as M:SS, not '" + value + "'";
        (name == "--from" ? capture.from : capture.to) = seconds;
    }
    return "";
}

static bool IsCaptureOption(const std::string& name)
{
    for (const char* option : {"--capture", "--fps", "--size", "--from", "--to"}) {
        if (name == option)
            return true;
    }
    return false;
}

static CommandLine Failed(CommandLine line, const std::string& error)
{
    line.action = CommandLine::Action::Error;
    line.error = error;
    return line;
}

CommandLine ParseCommandLine(int argc, char* argv[])
{
    CommandLine line;
    line.toolkitArguments.push_back(argv[0]);
    std::string onlyWithCapture;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const int toolkitCount = optionsEnded ? 0 : ToolkitArgumentCount(argument);
        if (toolkitCount > 0) {
            if (toolkitCount == 2 && i + 1 >= argc)
                return Failed(line, "the option " + argument + " needs a value");
            for (int k = 0; k < toolkitCount; ++k)
                line.toolkitArguments.push_back(argv[i + k]);
            const std::string name = ToolkitOptionName(argument);
            line.capture.windowSystemGiven |= name == "platform" || name == "display";
            i += toolkitCount - 1;
            continue;
        }
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            if (!line.folder.empty())
                return Failed(line, "one folder only, not both '" + line.folder + "' and '"
                                        + argument + "'");
            line.folder = argument;
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        } else if (argument == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        } else if (argument == "--no-overlays") {
            line.capture.overlays = false;
            onlyWithCapture = argument;
        } else if (IsCaptureOption(name)) {
            if (equals == std::string::npos && i + 1 >= argc)
                return Failed(line, "the option " + name + " needs a value");
            const std::string value = equals == std::string::npos ? argv[++i] : argument.substr(equals + 1);
            const std::string problem = SetCaptureOption(line.capture, name, value);
            if (!problem.empty())
                return Failed(line, problem);
            if (name == "--capture")
                line.action = CommandLine::Action::Capture;
            else
                onlyWithCapture = name;
        } else {
            return Failed(line, "unknown option " + argument);
        }
    }
    if (line.action != CommandLine::Action::Capture && !onlyWithCapture.empty())
        return Failed(line, "the option " + onlyWithCapture + " is used only with --capture FILE");
    if (line.capture.to >= 0 && line.capture.to <= line.capture.from) {
        std::ostringstream text;
        text << "--to " << line.capture.to << " must come after --from " << line.capture.from;
        return Failed(line, text.str());
    }
    struct stat status;
    if (!line.folder.empty() && stat(line.folder.c_str(), &status) != 0)
        return Failed(line, "no folder '" + line.folder + "': " + std::strerror(errno));
    if (!line.folder.empty() && !S_ISDIR(status.st_mode))
        return Failed(line, "'" + line.folder + "' is not a folder");
    line.toolkitArgumentCount = int(line.toolkitArguments.size());
    line.toolkitArguments.push_back(nullptr);
    return line;
}

int ApplyCommandLine(const CommandLine& line)
{
    switch (line.action) {
    case CommandLine::Action::Help:
        std::printf("%s\n\n%s", kUsage, kHelp);
        return 0;
    case CommandLine::Action::Version:
        std::printf("quillmere %s\n", QUILLMERE_VERSION);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "quillmere: %s\n%s\n", line.error.c_str(), kUsage);
        return kBadUsage;
    default:
        break;
    }
    if (!line.folder.empty() && chdir(line.folder.c_str()) != 0) {
        std::fprintf(stderr, "quillmere: cannot enter the folder '%s': %s\n%s\n",
                     line.folder.c_str(), std::strerror(errno), kUsage);
        return kBadUsage;
    }
    return -1;
}
