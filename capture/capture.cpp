// Offline capture of the scene into a video file.
#include "capture/capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/soundtrackanalysis.h"
#include "capture/captureclock.h"
#include "capture/capturesegments.h"
#include "capture/captureprogress.h"
#include "capture/childprocess.h"
#include "capture/offscreenview.h"
#include "capture/videoencoder.h"
#include "gpu/scriptgpu.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "script/scenefiles.h"
#include "script/scriptfailures.h"
#include "world/kestrovaworld.h"

static constexpr int kEncoderLinesShown = 8;
// A frame count of a whole number of seconds must not gain a frame by rounding.
static constexpr double kFrameCountTolerance = 1e-6;
static constexpr double kMicrosecondsPerSecond = 1e6;
// The decoded length comes in whole microseconds: a --to of the music's length as a person
// writes it may lie a hair past it.
static constexpr double kLengthTolerance = 1e-3;
// mkstemps replaces six characters of a part file's name.
static constexpr size_t kUniqueLength = 6;
// The folder where a capture's segments are made is named as its part file, with this in place of
// the video's extension.
static const char kSegmentsExtension[] = ".segments";

// The signal that asked the capture to stop, 0 while none has. Set on whichever thread the
// signal lands, read by the drawing thread and, through VideoEncoder, by a wait for a buffer.
static std::atomic<int> g_stopSignal{0};
// What a second signal cleans up before it ends the program: ffmpeg, then the part file. The
// path is written before the flag is set, and the flag cleared before the path changes.
static std::atomic<pid_t> g_encoderPid{-1};
static std::atomic<bool> g_partPathSet{false};
static char g_partPath[PATH_MAX];
// Once the video is complete and going into place, no signal undoes it.
static std::atomic<bool> g_videoComplete{false};

// The first signal asks the capture to stop after the frame under way; a second one, while
// ffmpeg finishes or a frame of the scene takes long, ends the program at once. Only
// async-signal-safe calls here.
static void OnStopSignal(int signal)
{
    int none = 0;
    if (g_stopSignal.compare_exchange_strong(none, signal) || g_videoComplete.load())
        return;
    // Killed and reaped first, so that ffmpeg cannot write the part file again once it is gone.
    if (const pid_t encoder = g_encoderPid.load(); encoder > 0) {
        kill(encoder, SIGKILL);
        waitpid(encoder, nullptr, 0);
    }
    if (g_partPathSet.load())
        unlink(g_partPath);
    static const char kMessage[] = "quillmere: capture stopped at once; nothing was written\n";
    ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(kSignalStatusBase + signal);
}

// With SA_RESTART: a signal only sets the flag, and no thread's write or wait has any use for
// being cut short by it.
static void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A write to an ffmpeg that has ended fails with EPIPE instead of ending this program.
    signal(SIGPIPE, SIG_IGN);
    // Inherited as ignored, SIGCHLD would let the system reap ffmpeg, and its exit status, the
    // only word on whether the video is complete, would be lost.
    signal(SIGCHLD, SIG_DFL);
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
    RemoveTemporaryFile();
}

bool Capture::Prepare()
{
    CatchStopSignals();
    if (!ChildProcess::IsInstalled("ffmpeg"))
        return ReportProblem("--capture needs the program ffmpeg, which is not installed "
                             "(Debian package ffmpeg)");
    if (!ProbeSoundtrack())
        return false;
    end = settings.to >= 0 ? settings.to : hasSoundtrack ? musicLength : kSilentCaptureSeconds;
    if (hasSoundtrack && settings.to > musicLength + kLengthTolerance)
        return ReportProblem("--to " + Number(settings.to) + " lies past the end of the music ("
                             + Number(musicLength) + " s)");
    if (settings.from >= end)
        return ReportProblem("--from " + Number(settings.from) + " lies at or past the end of the "
                             + (hasSoundtrack ? "music (" : "capture without a soundtrack (")
                             + Number(end) + " s)");
    const double frames = std::ceil((end - settings.from) * settings.fps - kFrameCountTolerance);
    if (frames > INT_MAX)
        return ReportProblem("--to " + Number(end) + " makes " + Number(frames) + " frames at " + std::to_string(settings.fps)
                             + " fps, more than the " + std::to_string(INT_MAX) + " a capture can make");
    frameCount = int(frames);
    grid = FrameGrid(settings.from, settings.fps);
    return CheckFolder() && CheckSegments();
}

bool Capture::CheckSegments()
{
    if (settings.segments == 0)
        return true;
    if (settings.segments > frameCount)
        return ReportProblem("--segments " + std::to_string(settings.segments) + " asks for more segments than the "
                             + std::to_string(frameCount) + " frames of the video");
    if (!settings.hosts.empty()) {
        if (const std::string problem = HostsFileProblem(settings.hosts, settings.hostsPath); !problem.empty())
            return ReportProblem(problem);
    }
    if (!settings.printSegments && !ChildProcess::IsInstalled("parallel"))
        return ReportProblem("--segments needs GNU parallel, which is not installed (Debian package parallel)");
    return true;
}

// The length is the decoded sound's, which ffmpeg finds by decoding it all: the length a file's
// headers give is an estimate that can miss by a frame of the mp3 or more. False for music that
// is there but is not a file: the capture reads the music several times (the length, the
// analysis, the video's sound, each segment), which a pipe cannot give, and a FIFO nobody
// writes to would hold the first read for ever.
bool Capture::ProbeSoundtrack()
{
    const std::string& music = settings.music;
    struct stat status;
    if (stat(settings.musicPath.c_str(), &status) != 0) {
        silenceReason = "no soundtrack (" + music + ": " + std::strerror(errno) + ")";
        return true;
    }
    if (!S_ISREG(status.st_mode))
        return ReportProblem("a capture reads its music more than once, from a file: " + music
                             + " is not a regular file (save what it gives into one)");
    ChildProcess probe;
    std::string output;
    const int result = probe.Run({"ffmpeg", "-nostdin", "-v", "error", "-i", "file:" + settings.musicPath,
                                  "-map", "0:a:0", "-f", "null", "-progress", "pipe:1", "-"},
                                 output);
    const double length = LastValue(output, "out_time_us") / kMicrosecondsPerSecond;
    if (result != 0 || !(length > 0)) {
        const std::string error = probe.ErrorTail(1);
        silenceReason = music + " holds no sound that can be decoded"
            + (error.empty() ? "" : " (" + error + ")");
        return true;
    }
    if (length > kLongestMusicSeconds) {
        silenceReason = music + " lasts " + Number(length) + " s, longer than the " + Number(kLongestMusicSeconds)
            + " s a soundtrack may last";
        return true;
    }
    hasSoundtrack = true;
    musicLength = length;
    return true;
}

// The folder that will hold the video, "" for the working directory.
static std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool Capture::CheckFolder()
{
    struct stat status;
    if (stat(settings.path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return ReportProblem(settings.file + " is a folder");
    const std::string folder = FolderOf(settings.path);
    if (access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
        return ReportProblem("cannot write the video in "
                             + (folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder)
                             + ": " + std::strerror(errno));
    return true;
}

// Part files are named ".STEM-PID-XXXXXX.partEXT"; this takes the PID out of such a name.
static bool PartFileOwner(const std::string& name, pid_t& owner)
{
    const size_t part = name.rfind(".part.");
    if (name.empty() || name[0] != '.' || part == std::string::npos || part < kUniqueLength + 3)
        return false;
    for (size_t i = part + 6; i < name.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    }
    const size_t dash = part - kUniqueLength - 1;
    if (name[dash] != '-')
        return false;
    const size_t digits = name.rfind('-', dash - 1);
    if (digits == std::string::npos || digits == 0 || digits + 1 == dash)
        return false;
    long pid = 0;
    for (size_t i = digits + 1; i < dash; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || pid > 1L << 22)
            return false;
        pid = pid * 10 + (name[i] - '0');
    }
    owner = pid_t(pid);
    return pid > 0;
}

// A capture killed outright (SIGKILL, a power cut) leaves its part file, or its segments' folder,
// behind; once its process is gone, the next capture into the folder removes it.
static void RemoveAbandonedPartFiles(const std::string& folder)
{
    DIR* entries = opendir(folder.empty() ? "." : folder.c_str());
    if (!entries)
        return;
    while (const dirent* entry = readdir(entries)) {
        pid_t owner = 0;
        struct stat status;
        const std::string path = folder + entry->d_name;
        if (!PartFileOwner(entry->d_name, owner) || owner == getpid() || kill(owner, 0) == 0 || errno != ESRCH
            || lstat(path.c_str(), &status) != 0)
            continue;
        if (S_ISREG(status.st_mode))
            unlink(path.c_str());
        else if (S_ISDIR(status.st_mode) && path.size() > sizeof kSegmentsExtension
                 && path.compare(path.size() - sizeof kSegmentsExtension + 1, std::string::npos, kSegmentsExtension) == 0)
            RemoveSegmentsFolder(path);
    }
    closedir(entries);
}

// Beside the video, with its extension, so that ffmpeg picks the same container.
bool Capture::CreateTemporaryFile()
{
    const std::string& path = settings.path;
    const std::string folder = FolderOf(path);
    RemoveAbandonedPartFiles(folder);
    struct stat status;
    const bool exists = stat(path.c_str(), &status) == 0;
    const size_t dot = path.rfind('.');
    const std::string stem = path.substr(folder.size(), dot - folder.size());
    const std::string suffix = ".part" + path.substr(dot);
    std::string name = folder + "." + stem + "-" + std::to_string(getpid()) + "-"
        + std::string(kUniqueLength, 'X') + suffix;
    if (name.size() >= sizeof g_partPath)
        return ReportProblem("the path of the video is too long: " + settings.file);
    const int fd = mkstemps(name.data(), int(suffix.size()));
    if (fd < 0)
        return ReportProblem("cannot write the video in " + (folder.empty() ? "." : folder) + ": "
                             + std::strerror(errno));
    std::memcpy(g_partPath, name.c_str(), name.size() + 1);
    g_partPathSet.store(true);
    temporaryPath = name;
    // The permissions the file would get if written directly: an existing file's, or the usual.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, exists ? status.st_mode & 07777 : 0666 & ~mask);
    close(fd);
    return true;
}

void Capture::RemoveTemporaryFile()
{
    g_partPathSet.store(false);
    if (!temporaryPath.empty())
        unlink(temporaryPath.c_str());
    temporaryPath.clear();
}

int Capture::Run()
{
    const int stop = g_stopSignal.load();
    const int status = stop ? kSignalStatusBase + stop : settings.segments > 0 ? RenderSegments() : Render();
    if (status != 0)
        RemoveTemporaryFile();
    if (status > kSignalStatusBase)
        std::fprintf(stderr, "quillmere: capture stopped by %s; nothing was written to %s\n",
                     status - kSignalStatusBase == SIGINT ? "SIGINT" : "SIGTERM",
                     settings.file.c_str());
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
    // Decoded and analysed while the view and the scene are made; the first frame waits for it.
    int openError = 0;
    if (hasSoundtrack)
        if (std::shared_ptr<SoundFile> file = SoundFile::Open(settings.musicPath, openError))
            StartMusicAnalysis(file, kMusicMixRate, settings.music);
    OffscreenView view(settings.width, settings.height);
    std::string error;
    if (!view.Create(error))
        return Fail("cannot capture: " + error);
    if (!CreateTemporaryFile())
        return kCaptureBadInput;
    if (!hasSoundtrack)
        std::fprintf(stderr, "quillmere: %s: the video is silent\n", silenceReason.c_str());
    KestrovaWorld world;
    SetUpWorld(world);
    CaptureClock clock(hasSoundtrack ? musicLength : 0);
    // The scene starts at the grid's first frame, from which update() runs up to --from.
    clock.SetTime(grid.Time(0));
    ScriptSession session(&clock);
    g_scriptFailures.Run(g_scriptFailures.load, kStartChunk);

    VideoEncoder encoder(g_stopSignal);
    if (!encoder.Start(Job(), error))
        return Fail(error);
    g_encoderPid.store(encoder.ProcessId());
    RenderFrames(view, world, clock, encoder);
    g_scriptFailures.SayRepeats();
    SayFoldedLog();
    const int status = FinishVideo(encoder);
    g_encoderPid.store(-1);
    times.total = SecondsSince(start);
    return status;
}

void Capture::SetUpWorld(World& world) const
{
    world.showGrid = world.showGround = world.showPivotMarker = settings.overlays;
    world.ScaleGuidesFor(settings.height);
    // Without the marker nothing shows the pivot, and the pick would only stall the drawing.
    world.pickPivot = settings.overlays;
    // The cursor rests at the view's centre.
    world.MouseMove(settings.width / 2, settings.height / 2);
}

EncoderJob Capture::Job() const
{
    EncoderJob job;
    job.output = "file:" + temporaryPath;
    job.quality = settings.quality;
    job.width = settings.width;
    job.height = settings.height;
    job.fps = settings.fps;
    if (hasSoundtrack) {
        job.audioFile = "file:" + settings.musicPath;
        job.audioStart = settings.from;
        job.audioSeconds = double(frameCount) / settings.fps;
    }
    return job;
}

// The frames of the grid before --from, as a capture from the grid's start makes them but
// unwritten: update() for each, and the draw too for those of the run-up, so that the state
// update() builds and what render targets carry from frame to frame are as they would be.
void Capture::RunUp(OffscreenView& view, World& world, CaptureClock& clock)
{
    const auto start = std::chrono::steady_clock::now();
    const long drawn = long(std::ceil(settings.runUp * settings.fps - kFrameCountTolerance));
    for (long frame = 0; frame < grid.First() && !g_stopSignal; ++frame) {
        clock.SetTime(grid.Time(frame));
        world.Tick(kFrameStep);
        // A frame left undrawn is counted all the same: shaders see the iFrame of a whole capture.
        if (frame >= grid.First() - drawn)
            view.Draw(world);
        else
            view.Skip();
    }
    times.runUp = SecondsSince(start);
}

// One frame of the program per video frame, each at its music time; ends early on a stop
// signal or when ffmpeg stops reading.
void Capture::RenderFrames(OffscreenView& view, World& world, CaptureClock& clock,
                           VideoEncoder& encoder)
{
    // A video never sees the zeros of an analysis still running, nor does the run-up.
    WaitForMusicAnalysis();
    RunUp(view, world, clock);
    CaptureProgress progress(frameCount);
    for (int i = 0; i < frameCount && !g_stopSignal; ++i) {
        auto phase = std::chrono::steady_clock::now();
        clock.SetTime(grid.Time(grid.First() + i));
        world.Tick(kFrameStep);
        view.Draw(world);
        view.Finish();
        NoteErrors();
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
}

// Lets ffmpeg finish the file and puts it in place. The stop flag is read once, after ffmpeg
// is done: a signal before that stops the capture, one after it comes too late to undo a
// finished video, and the status returned says which.
int Capture::FinishVideo(VideoEncoder& encoder)
{
    // Stopped during the frames: the encoder's destructor kills ffmpeg, no need to wait for it.
    // Finish reports the writer's failure when ffmpeg stopped reading early.
    const int result = g_stopSignal ? 0 : encoder.Finish();
    if (const int stop = g_stopSignal.load())
        return kSignalStatusBase + stop;
    if (result != 0)
        return Fail("ffmpeg failed (status " + std::to_string(result) + "); its last lines:\n"
                    + encoder.ErrorTail(kEncoderLinesShown));
    return PutInPlace();
}

// The failure that began first of those that stand, null while none does: a prod.lua that did
// not load and a shader that did not compile stand for every frame after them.
static const ScriptFailure* FirstStandingFailure()
{
    const std::vector<const ScriptFailure*> standing = g_scriptFailures.Standing();
    return standing.empty() ? nullptr : standing.back();
}

void Capture::NoteErrors()
{
    const ScriptFailure* failure = FirstStandingFailure();
    if (!failure)
        return;
    ++errorFrames;
    if (firstError.empty()) {
        const std::string& error = failure->error;
        firstError = error.substr(0, error.find('\n'));
    }
}

int Capture::PutInPlace()
{
    g_videoComplete.store(true);
    if (rename(temporaryPath.c_str(), settings.path.c_str()) != 0) {
        g_videoComplete.store(false);
        return Fail("cannot put the video in place as " + settings.file + ": " + std::strerror(errno));
    }
    g_partPathSet.store(false);
    temporaryPath.clear();
    std::fprintf(stderr, "quillmere: wrote %s: %d frames at %d fps, %.3f s\n", settings.file.c_str(),
                 frameCount, settings.fps, double(frameCount) / settings.fps);
    if (errorFrames == 0 && firstError.empty())
        return 0;
    std::fprintf(stderr, "quillmere: %s%d of %d frames; the first: %s\n", kSceneErrorsStart, errorFrames,
                 frameCount, firstError.c_str());
    return kCaptureSceneErrors;
}

// The part file of the video is made first: its unique name names the segments' folder too.
int Capture::RenderSegments()
{
    const auto start = std::chrono::steady_clock::now();
    CaptureSegments segments(settings, CutIntoSegments(grid, frameCount, settings.segments, end));
    if (settings.printSegments) {
        EncoderJob job = Job();
        job.output = "file:" + settings.path;
        if (hasSoundtrack && settings.musicPath[0] != '/')
            job.audioFile = "file:" + settings.folder + "/" + settings.musicPath;
        segments.Print(job);
        return 0;
    }
    if (!CreateTemporaryFile())
        return kCaptureBadInput;
    if (!hasSoundtrack)
        std::fprintf(stderr, "quillmere: %s: the video is silent\n", silenceReason.c_str());
    const std::string folder = temporaryPath.substr(0, temporaryPath.rfind('.')) + kSegmentsExtension;
    if (const int status = segments.Render(folder, g_stopSignal); status != 0)
        return status;
    ChildProcess join;
    if (!join.Start(JoinArguments(segments.ListFile(), Job()), -1, -1))
        return Fail(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    g_encoderPid.store(join.Id());
    const int result = join.Wait();
    g_encoderPid.store(-1);
    if (const int stop = g_stopSignal.load())
        return kSignalStatusBase + stop;
    if (result != 0)
        return Fail("ffmpeg could not join the segments (status " + std::to_string(result) + "); its last lines:\n"
                    + join.ErrorTail(kEncoderLinesShown));
    errorFrames = segments.errorFrames;
    firstError = segments.firstError;
    times.total = SecondsSince(start);
    times.frames = frameCount;
    return PutInPlace();
}
