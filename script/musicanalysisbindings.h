#pragma once
// The script functions that hear the music: getMusicLevel, getMusicBand, getMusicSpectrum,
// getMusicOnset, getMusicTempo, getMusicBeat, setMusicTempo and setMusicLoop.
struct lua_State;

void RegisterMusicAnalysisBindings(lua_State* L);

// Counts a frame as it begins: the onset a frame reads is the strongest over the music since the
// frame before.
void BeginMusicFrame();
