#pragma once
// The script functions that hear the music: getMusicLevel, getMusicBand, getMusicSpectrum,
// getMusicOnset, getMusicTempo, getMusicBeat, setMusicTempo and setMusicLoop.
struct lua_State;

void RegisterMusicAnalysisBindings(lua_State* L);
