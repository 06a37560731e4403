#include "app/soundtrack.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "analysis/soundtrackanalysis.h"
#include "app/soundtrackclock.h"
#include "script/scenefiles.h"

constexpr int kSoftwareChannels = 32;
constexpr unsigned int kInitFlags = 1;
constexpr unsigned int kStreamMode = 0x20000;
constexpr int kAnyFreeChannel = -1;
constexpr int kSoundtrackEndStatus = 1;

FSOUND_STREAM* g_soundtrackStream = nullptr;
// Made afresh by InstallSoundtrackClock.
static std::optional<SoundtrackClock> g_soundtrackClock{std::in_place};
static std::string g_soundtrackPath = kDefaultSoundtrack;
static std::string g_soundtrackName = kDefaultSoundtrack;
// Set before the music starts, read on the audio thread at its end.
static bool g_holdAtEnd = false;

static const char* const kErrorMessages[] = {
    "No errors",
    "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
    "This command failed because FSOUND_Init was not called",
    "Error initializing output device.",
    "The output device is already in use and cannot be reused.",
    "Playing the sound failed.",
    "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
    "Error setting cooperative level for hardware.",
    "Error creating hardware sound buffer.",
    "File not found",
    "Unknown file format",
    "Error loading file",
    "Not enough memory ",
    "The version number of this file format is not supported",
    "An invalid parameter was passed to this function",
    "Tried to use an EAX command on a non EAX enabled channel or output.",
    "Failed to allocate a new channel",
    "Recording not supported on this device",
    "Required Mediaplayer codec is not installed",
};
constexpr int kErrorMessageCount = int(sizeof kErrorMessages / sizeof kErrorMessages[0]);

const char* SoundErrorString(int code)
{
    if (code < 0 || code >= kErrorMessageCount)
        return "Unknown error";
    return kErrorMessages[code];
}

// Standard output is a file or a pipe in tests and scripts: flush so the lines arrive at once.
static void ReportSoundError()
{
    std::printf("Error!\n%s\n", SoundErrorString(FSOUND_GetError()));
    std::fflush(stdout);
}

void ChooseSoundtrack(const std::string& path, const std::string& name, bool holdAtEnd)
{
    g_soundtrackPath = path;
    g_soundtrackName = name;
    g_holdAtEnd = holdAtEnd;
}

// A length of music as H:MM:SS, whole seconds.
static std::string MusicLengthText(double seconds)
{
    const long whole = long(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// The analysis keeps a few bytes for each step of the music, so the music's length is bounded to
// keep the program's memory bounded; a longer soundtrack is closed again with a line that says so.
static void RefuseOverlongSoundtrack()
{
    const double length = FSOUND_Stream_GetLength(g_soundtrackStream);
    if (length <= kLongestMusicSeconds)
        return;
    std::fprintf(stderr, "quillmere: no soundtrack (%s: %s of music, longer than the %s a soundtrack may last)\n",
                 g_soundtrackName.c_str(), MusicLengthText(length).c_str(), MusicLengthText(kLongestMusicSeconds).c_str());
    FSOUND_Stream_Close(g_soundtrackStream);
    g_soundtrackStream = nullptr;
}

void StartSoundtrack()
{
    if (!FSOUND_Init(kMusicMixRate, kSoftwareChannels, kInitFlags))
        ReportSoundError();
    g_soundtrackStream = FSOUND_Stream_Open(g_soundtrackPath.c_str(), kStreamMode, 0, 0);
    if (!g_soundtrackStream) {
        const int code = FSOUND_GetError();
        ReportSoundError();
        // Standard output keeps the sound library's two lines; this one says which file it was.
        std::fprintf(stderr, "quillmere: no soundtrack (%s: %s)\n", g_soundtrackName.c_str(),
                     SoundErrorString(code));
    } else {
        RefuseOverlongSoundtrack();
    }
    g_soundtrackClock->Start(g_soundtrackStream);
    if (g_soundtrackStream)
        StartMusicAnalysis(FSOUND_Stream_GetFile(g_soundtrackStream), FSOUND_GetOutputRate(), g_soundtrackName);
    // With a null stream both calls are refused and the program runs on without music.
    FSOUND_Stream_Play(kAnyFreeChannel, g_soundtrackStream);
    FSOUND_Stream_SetEndCallback(g_soundtrackStream, OnSoundtrackEnd, nullptr);
}

void InstallSoundtrackClock()
{
    g_soundtrackClock.emplace();
    g_musicClock = &*g_soundtrackClock;
}

void StopSoundtrack()
{
    if (g_soundtrackClock && g_musicClock == &*g_soundtrackClock)
        g_musicClock = nullptr;
    StopMusicAnalysis();
    FSOUND_Stream_Close(g_soundtrackStream);
    g_soundtrackStream = nullptr;
    FSOUND_Close();
}

// Runs on the audio thread while the GUI thread goes on: exit() would run static destructors
// and atexit handlers under its feet, so end without clean-up. Every C stream is flushed first,
// standard output and the files a script opened and never closed alike. Held, the clock only
// learns that the music has ended.
signed char OnSoundtrackEnd(FSOUND_STREAM*, void*, int, void*)
{
    if (g_holdAtEnd) {
        g_soundtrackClock->MarkEnded();
        return 0;
    }
    std::fflush(nullptr);
    _exit(kSoundtrackEndStatus);
}
