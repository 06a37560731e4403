#include "sound/fsound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

// The mixer's one music slot carries the stream; the output is always 16-bit stereo.
constexpr int kOutputChannels = 2;
constexpr int kMixChunkSamples = 4096;
constexpr int kAnyChannel = -1;
constexpr int kMusicChannel = 0;
constexpr int kPlayOnce = 1;

using Clock = std::chrono::steady_clock;

static const std::pair<const char*, Mix_MusicType> kTypesByExtension[] = {
    {"wav", MUS_WAV}, {"ogg", MUS_OGG}, {"opus", MUS_OPUS}, {"flac", MUS_FLAC},
    {"mp3", MUS_MP3}, {"mpg", MUS_MP3}, {"mpeg", MUS_MP3}, {"mid", MUS_MID}, {"midi", MUS_MID},
};

struct FSOUND_STREAM {
    Mix_Music* music = nullptr;
    // The whole file, which the decoder reads and from which each jump decodes afresh (see
    // Restart); it outlives the music made from it.
    std::vector<unsigned char> file;
    bool paused = false;
    // Where playback starts when the stream is played or resumed; negative: where it paused.
    double startTime = -1;
    // Read by the audio thread when the stream ends.
    std::atomic<FSOUND_STREAMCALLBACK> endCallback{nullptr};
    std::atomic<void*> endUserData{nullptr};
    std::atomic<bool> finished{false};
    std::atomic<bool> endReported{false};
    // The position: the time of the last start, jump or resume, the output frames of the stream
    // mixed since, and when the last of them was mixed. Counted on the audio thread.
    std::mutex positionLock;
    double positionBase = 0;
    long long mixedFrames = 0;
    int lastBufferFrames = 0;
    Clock::time_point lastMix;
    // The loop, also under positionLock. While `looping` the mixer's music is paused and
    // MixLoop writes each buffer from the decoded sound; `wrapFrame` is where in the last one
    // it went back to loopFrom, -1 if it did not.
    std::shared_ptr<const DecodedSound> decoded;
    long long loopFrom = 0;
    long long loopTo = 0;
    bool looping = false;
    bool loopPaused = false;
    long long loopCursor = 0;
    int wrapFrame = -1;
};

static int g_lastError = FSOUND_ERR_NONE;
static bool g_initialised = false;
static int g_softwareChannels = 0;
static int g_outputRate = 0;
static int g_outputFrameBytes = 0;
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

// A loop is set and can be played: the stream has its decoded sound.
static bool CanLoop(const FSOUND_STREAM& stream)
{
    return stream.loopTo > 0 && stream.decoded;
}

// Runs on the audio thread with the mixer locked, also when the music is halted: halting
// clears g_playingStream first, so only a stream that played through is reported.
static void SDLCALL OnMusicFinished()
{
    if (FSOUND_STREAM* looped = g_playingStream.load()) {
        // The loop plays on from the decoded sound.
        std::lock_guard<std::mutex> lock(looped->positionLock);
        if (CanLoop(*looped))
            return;
    }
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

static void ResetPosition(FSOUND_STREAM* stream, double seconds)
{
    std::lock_guard<std::mutex> lock(stream->positionLock);
    stream->positionBase = seconds;
    stream->mixedFrames = 0;
    stream->looping = false;
    stream->wrapFrame = -1;
}

// Writes the whole buffer from the decoded sound at the loop's cursor, going back to the loop's
// start each time the cursor reaches its end (or the sound's). The sound has the output's format,
// so the music the mixer put into the buffer is replaced sample for sample. Runs on the audio
// thread with positionLock held.
static void MixLoop(FSOUND_STREAM* stream, Uint8* buffer, int bytes)
{
    const DecodedSound& sound = *stream->decoded;
    const int frames = bytes / g_outputFrameBytes;
    const long long end = std::min(stream->loopTo, sound.Frames());
    const long long from = std::min(stream->loopFrom, end - 1);
    stream->positionBase = double(stream->loopCursor) / g_outputRate;
    stream->wrapFrame = -1;
    for (int done = 0; done < frames;) {
        if (stream->loopCursor >= end) {
            stream->loopCursor = from;
            if (stream->wrapFrame < 0)
                stream->wrapFrame = done;
        }
        const int run = int(std::min<long long>(frames - done, end - stream->loopCursor));
        std::memcpy(buffer + size_t(done) * g_outputFrameBytes,
                    sound.Samples() + size_t(stream->loopCursor) * sound.channels, size_t(run) * g_outputFrameBytes);
        stream->loopCursor += run;
        done += run;
    }
    stream->mixedFrames = stream->lastBufferFrames = frames;
    stream->lastMix = Clock::now();
}

// Runs on the audio thread after each mixing buffer, with the mixer locked; the lock can be taken
// again on this thread, so Mix_PlayingMusic is safe here. Counts the buffer when the stream's
// music went into it: the decoder's own position runs ahead of that by what it has buffered and
// moves in steps of its reads.
static void SDLCALL OnBufferMixed(void*, Uint8* buffer, int bytes)
{
    FSOUND_STREAM* stream = g_playingStream.load();
    if (!stream)
        return;
    std::lock_guard<std::mutex> lock(stream->positionLock);
    if (CanLoop(*stream) && !stream->loopPaused) {
        // Taking over from the mixer's music, this buffer is written again from where that
        // music started it; the music is paused so that it can neither play under the loop
        // nor end.
        if (!stream->looping) {
            stream->looping = true;
            stream->loopCursor = std::llround(stream->positionBase * g_outputRate) + stream->mixedFrames;
            Mix_PauseMusic();
        }
        MixLoop(stream, buffer, bytes);
        return;
    }
    if (stream->looping || Mix_PausedMusic() || !Mix_PlayingMusic())
        return;
    stream->lastBufferFrames = bytes / g_outputFrameBytes;
    stream->mixedFrames += stream->lastBufferFrames;
    stream->lastMix = Clock::now();
}

// Plays the stream from that time on with a decoder made afresh from the file's copy. The
// mixer's own jump, Mix_SetMusicPosition, keeps what the decoder has buffered, which then plays
// first: up to a quarter of a second of the old place.
static bool Restart(FSOUND_STREAM* stream, double seconds)
{
    SDL_RWops* source = SDL_RWFromConstMem(stream->file.data(), int(stream->file.size()));
    Mix_Music* fresh = source ? Mix_LoadMUSType_RW(source, Mix_GetMusicType(stream->music), 1) : nullptr;
    if (!fresh)
        return Fail(FSOUND_ERR_PLAY);
    HaltMixer();
    Mix_FreeMusic(stream->music);
    stream->music = fresh;
    stream->startTime = -1;
    ResetPosition(stream, seconds);
    stream->finished.store(false);
    stream->endReported.store(false);
    g_playingStream.store(stream);
    if (Mix_FadeInMusicPos(fresh, kPlayOnce, 0, seconds) != 0) {
        g_playingStream.store(nullptr);
        return Fail(FSOUND_ERR_PLAY);
    }
    g_mixerStream = stream;
    return true;
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
    Uint16 format;
    int channels;
    Mix_QuerySpec(&g_outputRate, &format, &channels);
    g_outputFrameBytes = channels * SDL_AUDIO_BITSIZE(format) / 8;
    Mix_HookMusicFinished(OnMusicFinished);
    Mix_SetPostMix(OnBufferMixed, nullptr);
    g_softwareChannels = maxSoftwareChannels;
    g_initialised = true;
    return 1;
}

int FSOUND_GetError()
{
    return g_lastError;
}

// Reads the whole file. The decoder cannot tell a missing file from an unreadable one, so this
// comes first.
static int ReadFile(const char* name, std::vector<unsigned char>& data)
{
    std::FILE* file = std::fopen(name, "rb");
    if (!file)
        return errno == ENOENT || errno == ENOTDIR ? FSOUND_ERR_FILE_NOTFOUND : FSOUND_ERR_FILE_BAD;
    int error = FSOUND_ERR_NONE;
    unsigned char block[65536];
    try {
        while (size_t n = std::fread(block, 1, sizeof block, file))
            data.insert(data.end(), block, block + n);
    } catch (const std::bad_alloc&) {
        error = FSOUND_ERR_MEMORY;
    }
    if (std::ferror(file))
        error = FSOUND_ERR_FILE_BAD;
    std::fclose(file);
    return error;
}

// The mixer's own file loader guesses the format from the name's extension first and from the
// content only without one it knows; so does this, for the formats it plays.
static Mix_MusicType TypeByName(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    if (!dot)
        return MUS_NONE;
    for (const auto& [extension, type] : kTypesByExtension)
        if (SDL_strcasecmp(dot + 1, extension) == 0)
            return type;
    return MUS_NONE;
}

// The file is read once, here; the decoder and every later jump read that copy.
FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int /*mode*/, int offset, int length)
{
    if (!name || offset != 0 || length != 0) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return nullptr;
    }
    auto* stream = new (std::nothrow) FSOUND_STREAM;
    if (!stream) {
        Fail(FSOUND_ERR_MEMORY);
        return nullptr;
    }
    int error = ReadFile(name, stream->file);
    if (!error && !g_initialised)
        error = FSOUND_ERR_UNINITIALIZED;
    if (!error && stream->file.size() > size_t(INT_MAX))
        error = FSOUND_ERR_MEMORY;
    SDL_RWops* source = error ? nullptr : SDL_RWFromConstMem(stream->file.data(), int(stream->file.size()));
    stream->music = source ? Mix_LoadMUSType_RW(source, TypeByName(name), 1) : nullptr;
    if (!error && !stream->music)
        error = FSOUND_ERR_FILE_FORMAT;
    if (error) {
        delete stream;
        Fail(error);
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
    // What plays now is halted before the new stream becomes the one whose end is reported.
    const double start = std::max(0.0, stream->startTime);
    if (stream->paused) {
        HaltMixer();
        g_mixerStream = stream;
        stream->startTime = start;
        ResetPosition(stream, start);
    } else if (!Restart(stream, start)) {
        return -1;
    }
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

double FSOUND_Stream_GetTime(FSOUND_STREAM* stream)
{
    if (!IsOpen(stream)) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return -1;
    }
    std::lock_guard<std::mutex> lock(stream->positionLock);
    if (stream->mixedFrames == 0)
        return stream->positionBase;
    // Each buffer counts as heard from the moment it was mixed, for as long as it lasts. So it is
    // with the dummy driver, which waits that long after each; a device that queues one more
    // buffer plays it a buffer later, which is still within one buffer.
    const double buffer = double(stream->lastBufferFrames) / g_outputRate;
    const double heard = std::clamp(std::chrono::duration<double>(Clock::now() - stream->lastMix).count(), 0.0, buffer);
    // Past the point in the buffer where the loop went back, what is heard is the loop's start.
    const double wrap = double(stream->wrapFrame) / g_outputRate;
    if (stream->looping && stream->wrapFrame >= 0 && heard >= wrap)
        return double(stream->loopFrom) / g_outputRate + heard - wrap;
    return stream->positionBase + double(stream->mixedFrames) / g_outputRate - buffer + heard;
}

signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, double seconds)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    // A length the decoder does not know (negative) bounds nothing.
    const double length = Mix_MusicDuration(stream->music);
    if (!(seconds >= 0) || std::isinf(seconds) || (length >= 0 && seconds >= length))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    {
        // A loop that plays goes on from there.
        std::lock_guard<std::mutex> lock(stream->positionLock);
        if (stream->looping) {
            stream->loopCursor = std::llround(seconds * g_outputRate);
            stream->positionBase = seconds;
            stream->mixedFrames = 0;
            stream->wrapFrame = -1;
            return 1;
        }
    }
    if (g_mixerStream == stream && !stream->paused)
        return Restart(stream, seconds);
    // Not mixed now, so the audio thread counts nothing for it.
    stream->startTime = seconds;
    ResetPosition(stream, seconds);
    return 1;
}

signed char FSOUND_Stream_SetPaused(FSOUND_STREAM* stream, signed char paused)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    if ((paused != 0) == stream->paused)
        return 1;
    stream->paused = paused != 0;
    {
        // A loop that plays holds still with its cursor, the mixer's music being paused already.
        std::lock_guard<std::mutex> lock(stream->positionLock);
        stream->loopPaused = stream->paused;
        if (stream->looping) {
            stream->positionBase = double(stream->loopCursor) / g_outputRate;
            stream->mixedFrames = 0;
            stream->wrapFrame = -1;
            return 1;
        }
    }
    if (g_mixerStream != stream)
        return 1;
    if (stream->paused) {
        Mix_PauseMusic();
        return 1;
    }
    if (stream->startTime >= 0)
        return Restart(stream, stream->startTime);
    // The count goes on from where the mixing stopped.
    {
        std::lock_guard<std::mutex> lock(stream->positionLock);
        stream->positionBase += double(stream->mixedFrames) / g_outputRate;
        stream->mixedFrames = 0;
    }
    Mix_ResumeMusic();
    return 1;
}

double FSOUND_Stream_GetLength(FSOUND_STREAM* stream)
{
    if (!IsOpen(stream)) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return -1;
    }
    // Some formats do not tell their length without decoding them through.
    const double length = Mix_MusicDuration(stream->music);
    if (length < 0)
        Fail(FSOUND_ERR_FILE_FORMAT);
    return length < 0 ? -1 : length;
}

signed char FSOUND_Stream_SetDecodedSound(FSOUND_STREAM* stream, std::shared_ptr<const DecodedSound> sound)
{
    // No error code is set: the call may come from another thread than the one that reads it.
    if (!stream || !sound || sound->rate != g_outputRate || sound->channels * int(sizeof(int16_t)) != g_outputFrameBytes)
        return 0;
    std::lock_guard<std::mutex> lock(stream->positionLock);
    stream->decoded = std::move(sound);
    return 1;
}

signed char FSOUND_Stream_SetLoopPoints(FSOUND_STREAM* stream, double from, double to)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    const double length = Mix_MusicDuration(stream->music);
    const bool remove = from == 0 && to == 0;
    if (!remove && !(from >= 0 && from < to && (length < 0 || to <= length) && std::isfinite(to)))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    bool wasLooping;
    double at;
    {
        std::lock_guard<std::mutex> lock(stream->positionLock);
        wasLooping = stream->looping && remove;
        at = double(stream->loopCursor) / g_outputRate;
        stream->loopFrom = std::llround(from * g_outputRate);
        stream->loopTo = std::llround(to * g_outputRate);
        if (wasLooping)
            stream->looping = false;
    }
    if (!wasLooping)
        return 1;
    // The music goes on where the loop had got to, from a decoder made afresh.
    if (length >= 0 && at >= length)
        at = 0;
    if (!stream->paused)
        return Restart(stream, at);
    stream->startTime = at;
    ResetPosition(stream, at);
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
    Mix_SetPostMix(nullptr, nullptr);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    g_softwareChannels = 0;
    g_initialised = false;
}
