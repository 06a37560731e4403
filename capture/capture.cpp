// Offline capture of the scene into a video file.
#include "capture/capture.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/captureclock.h"
#include "capture/captureprogress.h"
#include "capture/childprocess.h"
#include "capture/offscreenview.h"
#include "capture/videoencoder.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "world/kestrovaworld.h"
#include "world/viewgl.h"

static const char kSoundtrackFile[] = "Ondrelle.mp3";
static const char kStartChunk[] = "dofile(\"prod.lua\")";
// The fixed step the window's frame loop gives every tick.
static constexpr float kFrameStep = 0.05f;
static constexpr int kEncoderLinesShown = 8;
static constexpr int kSignalStatusBase = 128;
// A frame count of a whole number of seconds must not gain a frame by rounding.
static constexpr double kFrameCountTolerance = 1e-6;
static constexpr double kMicrosecondsPerSecond = 1e6;
// The decoded length comes in whole microseconds: a --to of the music's length as a person
// writes it may lie a hair past it.
static constexpr double kLengthTolerance = 1e-3;

// The signal that asked the capture to stop, 0 while none has.
static volatile sig_atomic_t g_stopSignal = 0;

static void OnStopSignal(int signal)
{
    g_stopSignal = signal;
}

// Without SA_RESTART, so that a write to ffmpeg or a wait returns at once with EINTR.
static void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A write to an ffmpeg that has ended fails with EPIPE instead of ending this program.
    signal(SIGPIPE, SIG_IGN);
}

static bool ReportProblem(const std::string& message)
{
    std::fprintf(stderr, "quillmere: %s\n", message.c_str());
    return false;
}

static std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

static double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a program; what it wrote to standard output, and the last line it wrote to standard error.
static int ProgramOutput(const std::vector<std::string>& arguments, std::string& output,
                         std::string& lastError)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const int errors = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    ChildProcess child;
    const bool started = child.Start(arguments, -1, fds[1], errors);
    close(fds[1]);
    char buffer[4096];
    for (ssize_t n; started && (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            output.append(buffer, size_t(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    const int status = started ? child.Wait() : -1;
    std::string text;
    for (ssize_t n, at = 0; errors >= 0 && (n = pread(errors, buffer, sizeof buffer, at)) > 0; at += n)
        text.append(buffer, size_t(n));
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    lastError = text.substr(text.rfind('\n') + 1);
    if (errors >= 0)
        close(errors);
    return status;
}

// The number after the last "key=" at the start of a line, NaN without one.
static double LastValue(const std::string& output, const std::string& key)
{
    const std::string marker = "\n" + key + "=";
    const size_t at = ("\n" + output).rfind(marker);
    if (at == std::string::npos)
        return NAN;
    char* end = nullptr;
    const char* text = output.c_str() + at + marker.size() - 1;
    const double value = std::strtod(text, &end);
    return end == text ? NAN : value;
}

// The scene's Lua state and the music clock for the length of a capture. The world outlives
// both: finalizers that CloseLua runs may still call the bindings.
struct ScriptSession {
    explicit ScriptSession(MusicClock* clock)
    {
        g_musicClock = clock;
        InitLua();
        RegisterLuaBindings();
    }
    ~ScriptSession()
    {
        CloseLua();
        g_musicClock = nullptr;
    }
};

Capture::Capture(CaptureSettings settings)
    : settings(std::move(settings))
{
}

Capture::~Capture()
{
    if (!temporaryPath.empty())
        unlink(temporaryPath.c_str());
}

bool Capture::Prepare()
{
    CatchStopSignals();
    if (!ChildProcess::IsInstalled("ffmpeg"))
        return ReportProblem("--capture needs the program ffmpeg, which is not installed "
                             "(Debian package ffmpeg)");
    ProbeSoundtrack();
    const double end = settings.to >= 0 ? settings.to
                                        : hasSoundtrack ? musicLength : kSilentCaptureSeconds;
    if (hasSoundtrack && settings.to > musicLength + kLengthTolerance)
        return ReportProblem("--to " + Number(settings.to) + " lies past the end of the music ("
                             + Number(musicLength) + " s)");
    if (settings.from >= end)
        return ReportProblem("--from " + Number(settings.from) + " lies at or past the end of the "
                             + (hasSoundtrack ? "music (" : "capture without a soundtrack (")
                             + Number(end) + " s)");
    frameCount = int(std::ceil((end - settings.from) * settings.fps - kFrameCountTolerance));
    if (!DisplayAvailable(settings.windowSystemGiven))
        return ReportProblem("--capture draws with OpenGL on a display, and DISPLAY is not set "
                             "(run it under xvfb-run, or scripts/capture in the source tree)");
    return CreateTemporaryFile();
}

// The length is the decoded sound's, which ffmpeg finds by decoding it all: the length a file's
// headers give is an estimate that can miss by a frame of the mp3 or more.
void Capture::ProbeSoundtrack()
{
    struct stat status;
    if (stat(kSoundtrackFile, &status) != 0) {
        silenceReason =
            std::string("no soundtrack (") + kSoundtrackFile + ": " + std::strerror(errno) + ")";
        return;
    }
    std::string output, error;
    const int result = ProgramOutput({"ffmpeg", "-nostdin", "-v", "error", "-i", kSoundtrackFile,
                                      "-map", "0:a:0", "-f", "null", "-progress", "pipe:1", "-"},
                                     output, error);
    const double length = LastValue(output, "out_time_us") / kMicrosecondsPerSecond;
    if (result != 0 || !(length > 0)) {
        silenceReason = std::string(kSoundtrackFile) + " holds no sound that can be decoded"
            + (error.empty() ? "" : " (" + error + ")");
        return;
    }
    hasSoundtrack = true;
    musicLength = length;
}

// Beside the video, with its extension, so that ffmpeg picks the same container.
bool Capture::CreateTemporaryFile()
{
    const std::string& path = settings.path;
    struct stat status;
    const bool exists = stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode))
        return ReportProblem(settings.file + " is a folder");
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const std::string folder = path.substr(0, slash + 1);
    const std::string stem = path.substr(slash + 1, dot - slash - 1);
    const std::string suffix = ".part" + path.substr(dot);
    std::string name = folder + "." + stem + "-XXXXXX" + suffix;
    const int fd = mkstemps(name.data(), int(suffix.size()));
    if (fd < 0)
        return ReportProblem("cannot write the video in " + (slash == 0 ? "/" : path.substr(0, slash))
                             + ": " + std::strerror(errno));
    // The permissions the file would get if written directly: an existing file's, or the usual.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, exists ? status.st_mode & 07777 : 0666 & ~mask);
    close(fd);
    temporaryPath = name;
    return true;
}

int Capture::Run()
{
    const int status = g_stopSignal ? kSignalStatusBase + g_stopSignal : Render();
    if (status != 0 && !temporaryPath.empty()) {
        unlink(temporaryPath.c_str());
        temporaryPath.clear();
    }
    if (g_stopSignal)
        std::fprintf(stderr, "quillmere: capture stopped by %s; nothing was written to %s\n",
                     g_stopSignal == SIGINT ? "SIGINT" : "SIGTERM", settings.file.c_str());
    return status;
}

int Capture::Fail(const std::string& message)
{
    ReportProblem(message);
    return kCaptureFailed;
}

int Capture::Render()
{
    const auto start = std::chrono::steady_clock::now();
    OffscreenView view(settings.width, settings.height);
    std::string error;
    if (!view.Create(error))
        return Fail("cannot capture: " + error);
    if (!hasSoundtrack)
        std::fprintf(stderr, "quillmere: %s: the video is silent\n", silenceReason.c_str());
    KestrovaWorld world;
    world.showGrid = world.showGround = world.showPivotMarker = settings.overlays;
    world.ScaleGuidesFor(settings.height);
    // Without the marker nothing shows the pivot, and the pick would only stall the drawing.
    world.pickPivot = settings.overlays;
    // The cursor rests at the view's centre.
    world.MouseMove(settings.width / 2, settings.height / 2);
    CaptureClock clock(hasSoundtrack ? musicLength : 0);
    clock.SetTime(settings.from);
    ScriptSession session(&clock);
    RunLuaString(kStartChunk);

    EncoderJob job;
    job.output = "file:" + temporaryPath;
    job.width = settings.width;
    job.height = settings.height;
    job.fps = settings.fps;
    if (hasSoundtrack) {
        job.audioFile = std::string("file:") + kSoundtrackFile;
        job.audioStart = settings.from;
        job.audioSeconds = double(frameCount) / settings.fps;
    }
    VideoEncoder encoder(g_stopSignal);
    if (!encoder.Start(job, error))
        return Fail(error);

    CaptureProgress progress(frameCount);
    for (int i = 0; i < frameCount && !g_stopSignal; ++i) {
        auto phase = std::chrono::steady_clock::now();
        clock.SetTime(settings.from + double(i) / settings.fps);
        world.Tick(kFrameStep);
        view.Draw(world);
        view.Finish();
        times.draw += SecondsSince(phase);
        phase = std::chrono::steady_clock::now();
        unsigned char* pixels = encoder.FreeBuffer();
        times.encoderWait += SecondsSince(phase);
        if (!pixels)
            break;
        phase = std::chrono::steady_clock::now();
        view.Read(pixels);
        encoder.Submit();
        times.readback += SecondsSince(phase);
        times.frames = i + 1;
        progress.Update(i + 1);
    }
    progress.Clear();
    if (g_stopSignal)
        return kSignalStatusBase + g_stopSignal;
    // Finish reports the writer's failure when ffmpeg stopped reading early.
    const int result = encoder.Finish();
    times.total = SecondsSince(start);
    if (g_stopSignal)
        return kSignalStatusBase + g_stopSignal;
    if (result != 0)
        return Fail("ffmpeg failed (status " + std::to_string(result) + "); its last lines:\n"
                    + encoder.LastLines(kEncoderLinesShown));
    if (rename(temporaryPath.c_str(), settings.path.c_str()) != 0)
        return Fail("cannot put the video in place as " + settings.file + ": " + std::strerror(errno));
    temporaryPath.clear();
    std::fprintf(stderr, "quillmere: wrote %s: %d frames at %d fps, %.3f s\n", settings.file.c_str(),
                 frameCount, settings.fps, double(frameCount) / settings.fps);
    return 0;
}
