#pragma once
// The soundtrack "Ondrelle.mp3", started last at start-up and stopped at shut-down. When it has
// played through, the process ends with status 1.
#include "sound/fsound.h"

extern FSOUND_STREAM* g_soundtrackStream;

void StartSoundtrack();
void StopSoundtrack();
// The end callback: ends the process without returning.
[[noreturn]] signed char OnSoundtrackEnd(FSOUND_STREAM* stream, void* buffer, int length,
                                         void* userData);
// The message for a code of FSOUND_GetError; static text.
const char* SoundErrorString(int code);
