#include "sound/fsound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "sound/loopfeeder.h"
#include "sound/soundfile.h"
#include "sound/soundreader.h"

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
    // The file, which the decoder reads and from which each jump decodes afresh (see Restart);
    // it outlives the music made from it.
    std::shared_ptr<SoundFile> file;
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
    // The loop, also under positionLock, in output frames. The mixer's music plays up to the
    // loop's end; from there on (`looping`) the music is paused and PlayLoop writes each buffer
    // from the feeder, `loopCursor` being the frame it writes next and `wrapFrame` where in the
    // last buffer it went back to loopFrom, -1 if it did not. `heldEnd`: the music reached its
    // end while a loop was set, which kept the end from being reported.
    std::unique_ptr<LoopFeeder> feeder;
    long long loopFrom = 0;
    long long loopTo = 0;
    bool looping = false;
    bool loopPaused = false;
    bool heldEnd = false;
    long long loopCursor = 0;
    int wrapFrame = -1;
};

static int g_lastError = FSOUND_ERR_NONE;
static bool g_initialised = false;
static int g_softwareChannels = 0;
static int g_outputRate = 0;
static int g_outputChannels = 0;
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

// Runs on the audio thread with the mixer locked, also when the music is halted: halting
// clears g_playingStream first, so only a stream that played through is reported.
static void SDLCALL OnMusicFinished()
{
    if (FSOUND_STREAM* looped = g_playingStream.load()) {
        // While a loop is set the music cannot end: the loop goes on from the feeder.
        std::lock_guard<std::mutex> lock(looped->positionLock);
        if (looped->loopTo > 0) {
            looped->heldEnd = true;
            return;
        }
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
    stream->heldEnd = false;
    stream->wrapFrame = -1;
}

// Writes the buffer's frames from `offset` on with what the feeder has of the loop, noting
// where the loop goes back to its start. The feeder decodes in the output's format, so the
// loop's frames are the music's sample for sample. What the feeder has not got ready yet (just
// after the loop was set, on a very busy machine) stays silent, and the cursor waits for it.
// Runs on the audio thread with positionLock held.
static void PlayLoop(FSOUND_STREAM* stream, Uint8* buffer, int offset, int frames)
{
    int done = offset;
    while (done < frames) {
        long long first;
        const int got = stream->feeder->Take(reinterpret_cast<int16_t*>(buffer + size_t(done) * g_outputFrameBytes),
                                             frames - done, first);
        if (got == 0)
            break;
        if (first != stream->loopCursor && stream->wrapFrame < 0)
            stream->wrapFrame = done;
        stream->loopCursor = first + got;
        done += got;
    }
    std::memset(buffer + size_t(done) * g_outputFrameBytes, 0, size_t(frames - done) * g_outputFrameBytes);
    stream->mixedFrames = stream->lastBufferFrames = frames;
    stream->lastMix = Clock::now();
}

// Where in this buffer, which the mixer's music started at its frame `start`, the loop takes
// over: at the loop's end; -1 when that lies past the buffer.
static int LoopTakeover(const FSOUND_STREAM& stream, long long start, int frames)
{
    const long long at = std::max(0LL, stream.feeder->End() - start);
    if (at <= frames)
        return int(at);
    // The music ended short of where the feeder knows the loop to end (the music's end, which
    // only decoding finds): the loop starts with the next buffer.
    return stream.heldEnd ? frames : -1;
}

// Runs on the audio thread after each mixing buffer, with the mixer locked; the lock can be taken
// again on this thread, so Mix_PlayingMusic is safe here. Counts the buffer when the stream's
// music went into it: the decoder's own position runs ahead of that by what it has buffered and
// moves in steps of its reads. Where the loop's end falls in the buffer, the loop takes over.
static void SDLCALL OnBufferMixed(void*, Uint8* buffer, int bytes)
{
    FSOUND_STREAM* stream = g_playingStream.load();
    if (!stream)
        return;
    std::lock_guard<std::mutex> lock(stream->positionLock);
    const int frames = bytes / g_outputFrameBytes;
    if (stream->looping) {
        if (!stream->loopPaused) {
            stream->positionBase = double(stream->loopCursor) / g_outputRate;
            stream->wrapFrame = -1;
            PlayLoop(stream, buffer, 0, frames);
        }
        return;
    }
    const bool mixed = Mix_PlayingMusic() && !Mix_PausedMusic();
    if (stream->loopTo > 0 && stream->feeder && !stream->loopPaused && (mixed || stream->heldEnd)) {
        const long long start = std::llround(stream->positionBase * g_outputRate) + stream->mixedFrames;
        const int takeover = LoopTakeover(*stream, start, frames);
        if (takeover >= 0) {
            // The music is paused so that it can neither play under the loop nor end.
            Mix_PauseMusic();
            stream->looping = true;
            stream->positionBase = double(start) / g_outputRate;
            stream->loopCursor = stream->loopFrom;
            stream->wrapFrame = takeover;
            PlayLoop(stream, buffer, takeover, frames);
            return;
        }
    }
    if (!mixed)
        return;
    stream->lastBufferFrames = frames;
    stream->mixedFrames += frames;
    stream->lastMix = Clock::now();
}

// Plays the stream from that time on with a decoder made afresh from the file's copy. The
// mixer's own jump, Mix_SetMusicPosition, keeps what the decoder has buffered, which then plays
// first: up to a quarter of a second of the old place.
static bool Restart(FSOUND_STREAM* stream, double seconds)
{
    SDL_RWops* source = stream->file->NewRWops();
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
    Mix_QuerySpec(&g_outputRate, &format, &g_outputChannels);
    g_outputFrameBytes = g_outputChannels * SDL_AUDIO_BITSIZE(format) / 8;
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

int FSOUND_GetOutputRate()
{
    return g_initialised ? g_outputRate : 0;
}

// Opens the file. The decoder cannot tell a missing file from an unreadable one, so this comes
// first.
static int OpenFile(const char* name, std::shared_ptr<SoundFile>& file)
{
    int error = 0;
    file = SoundFile::Open(name, error);
    if (file)
        return FSOUND_ERR_NONE;
    if (error == ENOENT || error == ENOTDIR)
        return FSOUND_ERR_FILE_NOTFOUND;
    return error == ENOMEM ? FSOUND_ERR_MEMORY : FSOUND_ERR_FILE_BAD;
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

// The file is opened once, here; the decoder, every later jump and the loop read what was opened.
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
    int error = OpenFile(name, stream->file);
    if (!error && !g_initialised)
        error = FSOUND_ERR_UNINITIALIZED;
    SDL_RWops* source = error ? nullptr : stream->file->NewRWops();
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
    // A loop that plays hands back to the mixer's music, which goes on from there up to the
    // loop's end.
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

std::shared_ptr<const SoundFile> FSOUND_Stream_GetFile(FSOUND_STREAM* stream)
{
    if (!IsOpen(stream)) {
        Fail(FSOUND_ERR_INVALID_PARAM);
        return nullptr;
    }
    return stream->file;
}

// The loop's feeder is made with the first loop: a format it cannot decode cannot loop.
static bool MakeFeeder(FSOUND_STREAM* stream)
{
    if (stream->feeder)
        return true;
    std::unique_ptr<SoundReader> reader = SoundReader::Open(stream->file, g_outputRate, g_outputChannels);
    if (!reader)
        return false;
    auto feeder = std::make_unique<LoopFeeder>(std::move(reader));
    std::lock_guard<std::mutex> lock(stream->positionLock);
    stream->feeder = std::move(feeder);
    return true;
}

signed char FSOUND_Stream_SetLoopPoints(FSOUND_STREAM* stream, double from, double to)
{
    if (!IsOpen(stream))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    const double length = Mix_MusicDuration(stream->music);
    const bool remove = from == 0 && to == 0;
    if (!remove && !(from >= 0 && from < to && (length < 0 || to <= length) && std::isfinite(to)))
        return Fail(FSOUND_ERR_INVALID_PARAM);
    const long long loopFrom = std::llround(from * g_outputRate), loopTo = std::llround(to * g_outputRate);
    // Only this thread changes the loop: a loop set again as it is goes on undisturbed.
    if (loopFrom == stream->loopFrom && loopTo == stream->loopTo)
        return 1;
    if (!remove && !MakeFeeder(stream))
        return Fail(FSOUND_ERR_FILE_FORMAT);
    bool wasLooping, ended;
    double at;
    {
        std::lock_guard<std::mutex> lock(stream->positionLock);
        wasLooping = stream->looping;
        ended = stream->heldEnd && !wasLooping;
        at = double(stream->loopCursor) / g_outputRate;
        stream->loopFrom = loopFrom;
        stream->loopTo = loopTo;
        stream->looping = false;
    }
    if (!remove)
        stream->feeder->Start(loopFrom, loopTo);
    // The music had reached its end, held by the loop: without the loop it has ended.
    if (remove && ended) {
        FSOUND_STREAM* playing = stream;
        g_playingStream.compare_exchange_strong(playing, nullptr);
        stream->finished.store(true);
        ReportEnd(stream);
        return 1;
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
