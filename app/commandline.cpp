#include "app/commandline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "script/scenefiles.h"

static constexpr int kBadUsage = 2;
static constexpr int kLargestFps = 1000;
static constexpr long kSmallestSide = 2;
static constexpr long kLargestSide = 16384;
static constexpr double kSecondsPerMinute = 60;
static constexpr long kMostSegments = 1000;
static constexpr long kLargestPort = 65535;

static const char kIntroduction[] =
    "Plays the scene prod.lua of FOLDER (default: the working directory) with its soundtrack\n"
    "Ondrelle.mp3, in a window with a Lua console, or captures it into a video file.\n";
static const char kFolderHelp[] =
    "the scene's folder (or its prod.lua), which becomes the working directory";
static const char kToolkitHelp[] =
    "  -platform NAME, -display DISPLAY, -style NAME, -qwindowgeometry WxH+X+Y ...  Qt's own\n";
static const char kStatusHelp[] =
    "Exit status: 0 the window was closed (Escape in the player) or the video written, 1 the\n"
    "music ended, 2 bad command line or input, 3 ffmpeg, OpenGL or a segment failed during a\n"
    "capture, 4 the video was written but the scene had errors, 130 or 143 a capture stopped by\n"
    "SIGINT or SIGTERM. The manual page quillmere(1) has the details.\n";
static const char kLicence[] =
    "Copyright (c) 2026 The Quillmere developers\n"
    "MIT licence: free to use, copy, change and share, with no warranty; the licence's full text\n"
    "is the file LICENSE of the source.\n";
// The column where the help of each option starts.
static constexpr size_t kHelpColumn = 19;

// The toolkit's options; those in the second list take the next argument as their value.
static const char* const kToolkitFlags[] = {
    "reverse", "testability", "widgetcount", "nograb", "dograb", "sync",
};
static const char* const kToolkitOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowicon", "icon", "qwindowtitle", "title", "session", "style", "stylesheet", "display",
    "name", "visual", "qmljsdebugger",
};
// The only ones the toolkit also reads as -name=value; it ignores that form of the others and
// then aborts for want of the platform or display they name.
static const char* const kToolkitOptionsWithAttachedValue[] = {"style", "stylesheet", "qmljsdebugger"};

// "-name", "--name" and "-name=value" all name "name".
static std::string ToolkitOptionName(const std::string& argument)
{
    const std::string name = argument.substr(argument.size() > 1 && argument[1] == '-' ? 2 : 1);
    return name.substr(0, name.find('='));
}

// 0: not the toolkit's; 1: the toolkit's, alone; 2: the toolkit's, with the next argument;
// -1: the toolkit's, in a form it does not take.
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
        if (name != option)
            continue;
        if (!valueAttached)
            return 2;
        for (const char* attached : kToolkitOptionsWithAttachedValue) {
            if (name == attached)
                return 1;
        }
        return -1;
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

// Digits with at most one decimal point, and at least one digit: what strtod would take besides
// (spaces, a sign, hex, exponents, inf and nan) is no time a person writes.
static bool IsDecimal(const std::string& text)
{
    const size_t point = text.find('.');
    if (text.find_first_not_of("0123456789.") != std::string::npos
        || (point != std::string::npos && text.find('.', point + 1) != std::string::npos))
        return false;
    return text.find_first_of("0123456789") != std::string::npos;
}

// Seconds, or minutes and seconds as M:SS.
static bool ParseSeconds(const std::string& text, double& seconds)
{
    const size_t colon = text.find(':');
    long minutes = 0;
    if (colon != std::string::npos && !ParseWhole(text.substr(0, colon), minutes))
        return false;
    const std::string rest = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!IsDecimal(rest))
        return false;
    seconds = std::strtod(rest.c_str(), nullptr);
    if (!std::isfinite(seconds))
        return false;
    if (colon != std::string::npos && (minutes < 0 || seconds >= kSecondsPerMinute))
        return false;
    seconds += double(minutes) * kSecondsPerMinute;
    return true;
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

static std::string CaptureFile(CommandLine& line, const std::string& value)
{
    if (!HasVideoExtension(value))
        return "--capture takes a video file ending in .mp4, .m4v, .mov or .mkv, not '" + value + "'";
    line.action = CommandLine::Action::Capture;
    line.capture.file = value;
    line.capture.path = Absolute(value);
    return "";
}

// The window's pace, or the video's rate in a capture.
static std::string Fps(CommandLine& line, const std::string& value)
{
    long whole = 0;
    if (!ParseWhole(value, whole) || whole < 1 || whole > kLargestFps)
        return "--fps takes a whole number of frames a second from 1 to "
            + std::to_string(kLargestFps) + ", not '" + value + "'";
    line.capture.fps = int(whole);
    line.show.fps = int(whole);
    return "";
}

// WIDTHxHEIGHT (x or X) with both sides in range, and even where a video needs it.
static bool ParseSize(const std::string& value, bool even, long& width, long& height)
{
    const size_t x = value.find_first_of("xX");
    const auto isSide = [even](long side) {
        return side >= kSmallestSide && side <= kLargestSide && (!even || side % 2 == 0);
    };
    return x != std::string::npos && ParseWhole(value.substr(0, x), width)
        && ParseWhole(value.substr(x + 1), height) && isSide(width) && isSide(height);
}

static std::string Size(CommandLine& line, const std::string& value)
{
    long width = 0, height = 0;
    if (!ParseSize(value, true, width, height))
        return "--size takes WIDTHxHEIGHT in pixels, both even and from 2 to "
            + std::to_string(kLargestSide) + ", not '" + value + "'";
    line.capture.width = int(width);
    line.capture.height = int(height);
    return "";
}

static std::string Player(CommandLine& line, const std::string&)
{
    line.show.player = true;
    return "";
}

static std::string PlayerWindow(CommandLine& line, const std::string& value)
{
    long width = 0, height = 0;
    if (!ParseSize(value, false, width, height))
        return "--window takes WIDTHxHEIGHT in pixels, from 2 to " + std::to_string(kLargestSide)
            + ", not '" + value + "'";
    line.show.width = int(width);
    line.show.height = int(height);
    return "";
}

static std::string MusicTime(const char* option, double& time, const std::string& value)
{
    if (!ParseSeconds(value, time))
        return std::string(option) + " takes a music time from 0 on, in seconds or as M:SS, not '"
            + value + "'";
    return "";
}

static std::string From(CommandLine& line, const std::string& value)
{
    return MusicTime("--from", line.capture.from, value);
}

static std::string To(CommandLine& line, const std::string& value)
{
    return MusicTime("--to", line.capture.to, value);
}

static std::string NoOverlays(CommandLine& line, const std::string&)
{
    line.capture.overlays = false;
    return "";
}

static std::string Quality(CommandLine& line, const std::string& value)
{
    for (CaptureQuality quality : kCaptureQualities) {
        if (value == QualityName(quality)) {
            line.capture.quality = quality;
            return "";
        }
    }
    return "--quality takes normal, high or lossless, not '" + value + "'";
}

static std::string RunUp(CommandLine& line, const std::string& value)
{
    if (!ParseSeconds(value, line.capture.runUp))
        return "--run-up takes seconds from 0 on, not '" + value + "'";
    return "";
}

static std::string Segments(CommandLine& line, const std::string& value)
{
    long count = 0;
    if (!ParseWhole(value, count) || count < 1 || count > kMostSegments)
        return "--segments takes a whole number from 1 to " + std::to_string(kMostSegments) + ", not '"
            + value + "'";
    line.capture.segments = int(count);
    return "";
}

// A file as given, for messages, and as a path from the folder the program starts in.
static std::string File(const std::string& value, const char* problem, std::string& given, std::string& path)
{
    if (value.empty())
        return problem;
    given = value;
    path = Absolute(value);
    return "";
}

static std::string Hosts(CommandLine& line, const std::string& value)
{
    return File(value, "--hosts takes a file of GNU parallel's sshlogins, not ''", line.capture.hosts,
                line.capture.hostsPath);
}

static std::string PrintSegments(CommandLine& line, const std::string&)
{
    line.capture.printSegments = true;
    return "";
}

static std::string Music(CommandLine& line, const std::string& value)
{
    return File(value, "--music takes a sound file, not ''", line.capture.music, line.capture.musicPath);
}

// HOST:PORT, an IPv6 host in brackets; or off.
static std::string Sync(CommandLine& line, const std::string& value)
{
    if (value == "off") {
        line.syncHost.clear();
        return "";
    }
    const size_t colon = value.rfind(':');
    std::string host = colon == std::string::npos ? "" : value.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    long port = 0;
    if (host.empty() || colon == std::string::npos || value.find_first_not_of("0123456789", colon + 1) != std::string::npos
        || !ParseWhole(value.substr(colon + 1), port) || port < 1 || port > kLargestPort)
        return "--sync takes the sync editor's HOST:PORT (a port from 1 to 65535), or off, not '" + value + "'";
    line.syncHost = host;
    line.syncPort = int(port);
    return "";
}

static std::string Hold(CommandLine& line, const std::string&)
{
    line.hold = true;
    return "";
}

static std::string ShowHelp(CommandLine& line, const std::string&)
{
    line.action = CommandLine::Action::Help;
    return "";
}

static std::string ShowVersion(CommandLine& line, const std::string&)
{
    line.action = CommandLine::Action::Version;
    return "";
}

// Where an option has a meaning: anywhere, only in the window, or only in a capture.
enum class Scope { Any, Window, Capture };

struct Option {
    const char* name;
    // A short name, or null.
    const char* alias;
    // The value's name in the usage and the help; null for an option without a value.
    const char* value;
    Scope scope;
    const char* help;
    // Sets what the option asks for; the problem with its value, "" when there is none.
    std::string (*apply)(CommandLine& line, const std::string& value);
};

// The one list of the program's own options: parsing, the usage line and the help all follow
// it, in this order. --capture, the first of the capture's options, starts a capture; the others
// need it.
static const Option kOptions[] = {
    {"--music", nullptr, "FILE", Scope::Any,
     "play FILE, in any format SDL_mixer decodes, in place of Ondrelle.mp3", Music},
    {"--sync", nullptr, "HOST:PORT", Scope::Window,
     "the sync editor to connect to (default 127.0.0.1:1338), or off for none", Sync},
    {"--hold", nullptr, nullptr, Scope::Window,
     "keep the window open at the music's end (the clock stands there; F6 goes back)", Hold},
    {"--player", nullptr, nullptr, Scope::Window,
     "show the scene alone on the whole screen, no console or guides; Escape ends", Player},
    {"--window", nullptr, "WxH", Scope::Window,
     "with --player: in a window of WxH pixels instead of the whole screen", PlayerWindow},
    {"--fps", nullptr, "N", Scope::Any,
     "frames a second, start to start (default: work + 10 ms); a capture's rate (60)", Fps},
    {"--capture", nullptr, "FILE", Scope::Capture,
     "render the scene offline into the video FILE (.mp4, .m4v, .mov, .mkv) and exit", CaptureFile},
    {"--size", nullptr, "WxH", Scope::Capture,
     "video size in pixels, both even, x or X between (default 1280x720)", Size},
    {"--from", nullptr, "SECONDS", Scope::Capture,
     "music time of the first frame, seconds or M:SS (default 0)", From},
    {"--to", nullptr, "SECONDS", Scope::Capture,
     "music time where the video ends (default: the music's end, 10 without music)", To},
    {"--no-overlays", nullptr, nullptr, Scope::Capture,
     "leave the grid, the ground box and the pivot marker out of the video", NoOverlays},
    {"--quality", nullptr, "Q", Scope::Capture,
     "normal, high (4:4:4: a one-pixel line keeps its colour) or lossless (default normal)", Quality},
    {"--run-up", nullptr, "SECONDS", Scope::Capture,
     "seconds drawn unwritten before --from, for feedback to settle (default 2)", RunUp},
    {"--segments", nullptr, "N", Scope::Capture,
     "render N runs of frames in processes of their own through GNU parallel, and join them", Segments},
    {"--hosts", nullptr, "FILE", Scope::Capture,
     "run the segments on the machines of GNU parallel's sshlogin FILE, over ssh", Hosts},
    {"--print-segments", nullptr, nullptr, Scope::Capture,
     "print the segments' commands and the join instead of running them", PrintSegments},
    {"--help", "-h", nullptr, Scope::Any, "print this help and exit", ShowHelp},
    {"--version", nullptr, nullptr, Scope::Any, "print the version and the licence, and exit",
     ShowVersion},
};

static std::string Synopsis(const Option& option)
{
    return std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
}

// The capture's options stand inside the bracket of the one that starts it.
static std::string Usage()
{
    std::string usage = "usage: quillmere [FOLDER]";
    bool inCapture = false;
    for (const Option& option : kOptions) {
        const bool capture = option.scope == Scope::Capture;
        if (inCapture && !capture)
            usage += "]";
        usage += " [" + Synopsis(option) + (capture && !inCapture ? "" : "]");
        inCapture = capture;
    }
    return usage + (inCapture ? "]" : "");
}

static std::string HelpLine(std::string left, const char* help)
{
    left.resize(std::max(left.size() + 1, kHelpColumn), ' ');
    return left + help + "\n";
}

static std::string Help()
{
    std::string help = HelpLine("  FOLDER", kFolderHelp);
    for (const Option& option : kOptions)
        help += HelpLine(std::string("  ") + (option.alias ? std::string(option.alias) + ", " : "")
                             + Synopsis(option),
                         option.help);
    return help;
}

static const Option* FindOption(const std::string& name)
{
    for (const Option& option : kOptions) {
        if (name == option.name || (option.alias && name == option.alias))
            return &option;
    }
    return nullptr;
}

static CommandLine Failed(CommandLine line, const std::string& error)
{
    line.action = CommandLine::Action::Error;
    line.error = error;
    return line;
}

// A prod.lua given where its folder is meant stands for that folder.
static std::string SceneFolderProblem(std::string& folder)
{
    struct stat status;
    if (stat(folder.c_str(), &status) != 0)
        return "no folder '" + folder + "': " + std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return "";
    const size_t slash = folder.rfind('/');
    if (folder.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, kStartScript) != 0)
        return "'" + folder + "' is not a folder";
    folder = slash == std::string::npos ? "" : slash == 0 ? "/" : folder.substr(0, slash);
    return "";
}

CommandLine ParseCommandLine(int argc, char* argv[])
{
    CommandLine line;
    line.toolkitArguments.push_back(argv[0]);
    std::string onlyWithCapture, onlyInWindow;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        // Our own options come first: Qt's -sync is not our --sync.
        const bool own = argument.rfind("--", 0) == 0 && FindOption(argument.substr(0, argument.find('=')));
        const int toolkitCount = optionsEnded || own ? 0 : ToolkitArgumentCount(argument);
        const std::string toolkitName = toolkitCount != 0 ? ToolkitOptionName(argument) : "";
        if (toolkitCount < 0)
            return Failed(line, "Qt takes -" + toolkitName + " and its value as two arguments, not "
                                    + argument);
        if (toolkitCount > 0) {
            if (toolkitCount == 2 && i + 1 >= argc)
                return Failed(line, "the option " + argument + " needs a value");
            for (int k = 0; k < toolkitCount; ++k)
                line.toolkitArguments.push_back(argv[i + k]);
            if (toolkitCount == 2 && toolkitName == "platform")
                line.platform = argv[i + 1];
            if (toolkitCount == 2 && toolkitName == "display")
                line.display = argv[i + 1];
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
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const Option* option = FindOption(name);
        if (!option)
            return Failed(line, "unknown option " + argument);
        std::string value;
        if (!option->value && equals != std::string::npos)
            return Failed(line, "the option " + name + " takes no value");
        if (option->value && equals == std::string::npos && i + 1 >= argc)
            return Failed(line, "the option " + name + " needs a value");
        if (option->value)
            value = equals == std::string::npos ? argv[++i] : argument.substr(equals + 1);
        if (const std::string problem = option->apply(line, value); !problem.empty())
            return Failed(line, problem);
        if (line.action == CommandLine::Action::Help || line.action == CommandLine::Action::Version)
            return line;
        if (option->scope == Scope::Capture && option->apply != CaptureFile)
            onlyWithCapture = name;
        if (option->scope == Scope::Window)
            onlyInWindow = name;
    }
    if (line.action != CommandLine::Action::Capture && !onlyWithCapture.empty())
        return Failed(line, "the option " + onlyWithCapture + " is used only with --capture FILE");
    if (line.action == CommandLine::Action::Capture && !onlyInWindow.empty())
        return Failed(line, "the option " + onlyInWindow + " is for the window, not for --capture");
    if (line.show.width > 0 && !line.show.player)
        return Failed(line, "the option --window is used only with --player");
    if (line.capture.segments == 0 && (!line.capture.hosts.empty() || line.capture.printSegments))
        return Failed(line, std::string("the option ") + (line.capture.printSegments ? "--print-segments" : "--hosts")
                                + " is used only with --segments N");
    if (line.capture.to >= 0 && line.capture.to <= line.capture.from) {
        std::ostringstream text;
        text << "--to " << line.capture.to << " must come after --from " << line.capture.from;
        return Failed(line, text.str());
    }
    if (!line.folder.empty()) {
        if (const std::string problem = SceneFolderProblem(line.folder); !problem.empty())
            return Failed(line, problem);
    }
    line.capture.folder = Absolute(line.folder);
    while (line.capture.folder.size() > 1 && line.capture.folder.back() == '/')
        line.capture.folder.pop_back();
    line.toolkitArgumentCount = int(line.toolkitArguments.size());
    line.toolkitArguments.push_back(nullptr);
    return line;
}

int ApplyCommandLine(const CommandLine& line)
{
    switch (line.action) {
    case CommandLine::Action::Help:
        std::printf("%s\n\n%s\n%s%s\n%s", Usage().c_str(), kIntroduction, Help().c_str(),
                    kToolkitHelp, kStatusHelp);
        return 0;
    case CommandLine::Action::Version:
        std::printf("quillmere %s\n%s", QUILLMERE_VERSION, kLicence);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "quillmere: %s\n%s\n", line.error.c_str(), Usage().c_str());
        return kBadUsage;
    default:
        break;
    }
    if (!line.folder.empty() && chdir(line.folder.c_str()) != 0) {
        std::fprintf(stderr, "quillmere: cannot enter the folder '%s': %s\n%s\n",
                     line.folder.c_str(), std::strerror(errno), Usage().c_str());
        return kBadUsage;
    }
    return -1;
}
