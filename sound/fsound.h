#pragma once
// A small streaming sound layer on SDL2_mixer: one output device, mp3 (or any format the mixer
// decodes) streamed from a file, its position, jumps, pause and length, and an end-of-stream
// callback. Calls report failure through their result; FSOUND_GetError then gives the code of
// the last failure.

// Error codes, as FSOUND_GetError reports them.
enum FSOUND_Error {
    FSOUND_ERR_NONE = 0,
    FSOUND_ERR_INITIALIZED = 1,   // FSOUND_Init called twice without FSOUND_Close
    FSOUND_ERR_UNINITIALIZED = 2, // the call needs FSOUND_Init first
    FSOUND_ERR_INIT = 3,          // the output device could not be opened
    FSOUND_ERR_PLAY = 5,
    FSOUND_ERR_FILE_NOTFOUND = 9,
    FSOUND_ERR_FILE_FORMAT = 10,  // the file is there but cannot be decoded
    FSOUND_ERR_FILE_BAD = 11,     // the file is there but cannot be read
    FSOUND_ERR_MEMORY = 12,
    FSOUND_ERR_INVALID_PARAM = 14,
};

#include <memory>

#include "sound/soundfile.h"

struct FSOUND_STREAM;

// The end callback runs on the mixer's audio thread with the mixer locked, so it must call no
// FSOUND_* function; if the stream ended before the callback was set, it runs inside
// FSOUND_Stream_SetEndCallback instead. Its buffer is null and its length 0.
typedef signed char (*FSOUND_STREAMCALLBACK)(FSOUND_STREAM* stream, void* buffer, int length,
                                             void* userData);

// Opens the output device: mixing rate in Hz, software channels. No flags are defined; the
// value is accepted and ignored. Non-zero on success.
signed char FSOUND_Init(int mixRate, int maxSoftwareChannels, unsigned int flags);
int FSOUND_GetError();
// The output's mixing rate in Hz, which may differ from the rate asked for; 0 before FSOUND_Init.
int FSOUND_GetOutputRate();
// Opens the file `name` for streaming: it is opened once and decoded from the disk in pieces,
// whatever happens to the path later. The mode is accepted and ignored; offset and length must
// be 0 (the whole file). Null on failure.
FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int offset, int length);
// Plays the stream once from its start; channel -1 asks for any free channel. Returns the
// channel used, or -1 on failure.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
// The callback runs once, when the stream has played through (not when it is stopped or closed).
signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream, FSOUND_STREAMCALLBACK callback,
                                         void* userData);
signed char FSOUND_Stream_Close(FSOUND_STREAM* stream);
// Seconds into the stream of what is being heard now. It advances with each mixing buffer the
// output plays, counted from the last jump, start or resume, so it lags the decoder, which runs
// ahead by the audio still queued. Before the stream plays, and while it is paused after a
// jump, it is the time playback will start from. -1 on failure.
double FSOUND_Stream_GetTime(FSOUND_STREAM* stream);
// Jumps to seconds from 0 up to the stream's length (excluded); the audio after the jump starts
// exactly there. Before the stream plays, or while it is paused, playback will start there.
signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, double seconds);
// Pauses (non-zero) or resumes the stream. A stream paused before it plays starts paused. While
// paused it is not mixed, so it cannot reach its end.
signed char FSOUND_Stream_SetPaused(FSOUND_STREAM* stream, signed char paused);
// The stream's length in seconds; -1 on failure.
double FSOUND_Stream_GetLength(FSOUND_STREAM* stream);
// The file the stream plays, for other readers of it (the analysis); null on failure.
std::shared_ptr<const SoundFile> FSOUND_Stream_GetFile(FSOUND_STREAM* stream);
// A loop from `from` to `to` seconds, 0 <= from < to <= length: on reaching `to` (or the
// music's end, if that comes first) the stream goes on at `from`, to the sample, and it cannot
// end while the loop is set. From and to both 0 remove the loop; the music then plays on from
// where the loop had got to. From the first time it goes back the loop plays what a thread of
// its own decodes ahead; a file in a format that thread cannot decode (see SoundReader) cannot
// loop: FSOUND_ERR_FILE_FORMAT.
signed char FSOUND_Stream_SetLoopPoints(FSOUND_STREAM* stream, double from, double to);
// Stops the music, releases every stream still open and closes the output device.
void FSOUND_Close();
