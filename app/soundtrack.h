#pragma once
// The soundtrack ("Ondrelle.mp3" unless the command line names another file), started once the
// first frame has been shown and stopped at shut-down. When it has played through, the process
// ends with status 1, or, held, the music's clock stands at the end. Its clock is the music's
// clock.
#include <string>

#include "sound/fsound.h"

extern FSOUND_STREAM* g_soundtrackStream;

// Makes the soundtrack's clock the music's clock (g_musicClock), standing at 0, before prod.lua
// runs: a pause or a jump the script makes at its top level applies when the music starts.
void InstallSoundtrackClock();
// The file StartSoundtrack opens (path) and names in its messages (name), and whether the
// program goes on at the music's end; before the main window is built.
void ChooseSoundtrack(const std::string& path, const std::string& name, bool holdAtEnd);
void StartSoundtrack();
void StopSoundtrack();
// The end callback: ends the process without returning, unless the end is held.
signed char OnSoundtrackEnd(FSOUND_STREAM* stream, void* buffer, int length,
                                         void* userData);
// The message for a code of FSOUND_GetError; static text.
const char* SoundErrorString(int code);
