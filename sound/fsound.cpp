#include "sound/fsound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <new>
#include <vector>

// The mixer's one music slot carries the stream; the output is always 16-bit stereo.
constexpr int kOutputChannels = 2;
constexpr int kMixChunkSamples = 4096;
constexpr int kAnyChannel = -1;
constexpr int kMusicChannel = 0;
constexpr int kPlayOnce = 1;

struct FSOUND_STREAM {
    Mix_Music* music = nullptr;
    // Read by the audio thread when the stream ends.
    std::atomic<FSOUND_STREAMCALLBACK> endCallback{nullptr};
    std::atomic<void*> endUserData{nullptr};
    std::atomic<bool> finished{false};
    std::atomic<bool> endReported{false};
};

static int g_lastError = FSOUND_ERR_NONE;
static bool g_initialised = false;
static int g_softwareChannels = 0;
static std::vector<FSOUND_STREAM*> g_openStreams;
// The stream last handed to the mixer (GUI thread only) ...
static FSOUND_STREAM* g_mixerStream = nullptr;
// ... and the one whose end the audio thread is still to report.
static std::atomic<FSOUND_STREAM*> g_playingStream{nullptr};

static signed char Fail(int code)
{
    g_lastError = code;
    return 0;
}

static bool IsOpen(FSOUND_STREAM* stream)
{
    return stream
        && std::find(g_openStreams.begin(), g_openStreams.end(), stream) != g_openStreams.end();
}

// Whoever sees both the end and the callback last reports the end: the audio thread when the
// callback was set before the stream ended, the setter when the stream ended first.
static void ReportEnd(FSOUND_STREAM* stream)
{
    FSOUND_STREAMCALLBACK callback = stream->endCallback.load();
    if (callback && stream->finished.load() && !stream->endReported.exchange(true))
        callback(stream, nullptr, 0, stream->endUserData.load());
}

// Runs on the audio thread with the mixer locked, also when the music is halted: halting
// clears g_playingStream first, so only a stream that played through is reported.
static void SDLCALL OnMusicFinished()
{
    FSOUND_STREAM* stream = g_playingStream.exchange(nullptr);
    if (!stream)
        return;
    stream->finished.store(true);
    ReportEnd(stream);
}

// After this no end of the halted stream is reported: Mix_HaltMusic takes the mixer lock, so
// a hook already running has returned.
static void HaltMixer()
{
    g_playingStream.store(nullptr);
    Mix_HaltMusic();
    g_mixerStream = nullptr;
}

static void Release(FSOUND_STREAM* stream)
{
    if (g_mixerStream == stream)
        HaltMixer();
    Mix_FreeMusic(stream->music);
    delete stream;
}

signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int /*flags*/)
{
    if (g_initialised)
        return Fail(FSOUND_ERR_INITIALIZED);
    if (mixRate <= 0 || maxSoftwareChannels <= 0)
        return Fail(FSOUND_ERR_INVALID_PARAM);
    // SDL would otherwise turn SIGINT and SIGTERM into quit events nobody reads, and the
    // program could no longer be stopped from its terminal.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return Fail(FSOUND_ERR_INIT);
    // Without the mp3 decoder Mix_LoadMUS reports the file format, as for any undecodable file.
    Mix_Init(MIX_INIT_MP3);
    if (Mix_OpenAudio(mixRate, AUDIO_S16SYS, kOutputChannels, kMixChunkSamples) != 0) {
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return Fail(FSOUND_ERR_INIT);
    }
    Mix_AllocateChannels(maxSoftwareChannels);
    Mix_HookMusicFinished(OnMusicFinished);
    g_softwareChannels = maxSoftwareChannels;
    g_initialised = true;
    return 1;
}

int FSOUND_GetError()
{
    return g_lastError;
}

// The decoder cannot tell a missing file from an unreadable one, so look first.
static int CheckReadable(const char* name)
{
    std::FILE* file = std::fopen(name, "rb");
    if (!file)
        return errno == ENOENT || errno == ENOTDIR ? FSOUND_ERR_FILE_NOTFOUND : FSOUND_ERR_FILE_BAD;
    std::fgetc(file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? FSOUND_ERR_FILE_BAD : FSOUND_ERR_NONE;
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int /*mode*/, int offset, int length)
{
    if (!name || offset != 0 || length != 0) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return nullptr;
    }
    if (int error = CheckReadable(name)) {
        Fail(error);
        return nullptr;
    }
    if (!g_initialised) {
        Fail(FSOUND_ERR_UNINITIALIZED);
        return nullptr;
    }
    auto* stream = new (std::nothrow) FSOUND_STREAM;
    if (!stream) {
        Fail(FSOUND_ERR_MEMORY);
        return nullptr;
    }
    stream->music = Mix_LoadMUS(name);
    if (!stream->music) {
        delete stream;
        Fail(FSOUND_ERR_FILE_FORMAT);
        return nullptr;
    }
    g_openStreams.push_back(stream);
    return stream;
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream)
{
    if (!g_initialised) {
        Fail(FSOUND_ERR_UNINITIALIZED);
        return -1;
    }
    if (!IsOpen(stream) || channel < kAnyChannel || channel >= g_softwareChannels) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return -1;
    }
    // Halt what plays now before the new stream becomes the one whose end is reported.
    HaltMixer();
    stream->finished.store(false);
    stream->endReported.store(false);
    g_playingStream.store(stream);
    if (Mix_PlayMusic(stream->music, kPlayOnce) != 0) {
        g_playingStream.store(nullptr);
        Fail(FSOUND_ERR_PLAY);
        return -1;
    }
    g_mixerStream = stream;
    return channel == kAnyChannel ? kMusicChannel : channel;
}

signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         void* userData)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    stream->endUserData.store(userData);
    stream->endCallback.store(callback);
    // The stream may have ended before the callback was set.
    ReportEnd(stream);
    return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    g_openStreams.erase(std::find(g_openStreams.begin(), g_openStreams.end(), stream));
    Release(stream);
    return 1;
}

void FSOUND_Close()
{
    if (!g_initialised) {
        Fail(FSOUND_ERR_UNINITIALIZED);
        return;
    }
    HaltMixer();
    for (FSOUND_STREAM* stream : g_openStreams)
        Release(stream);
    g_openStreams.clear();
    Mix_HookMusicFinished(nullptr);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_softwareChannels = 0;
    g_initialised = false;
}
