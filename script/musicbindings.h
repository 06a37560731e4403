#pragma once
// The script functions of the music's clock: getMusicTime, getMusicLength, setMusicTime and
// pauseMusic.
struct lua_State;

void RegisterMusicBindings(lua_State* L);
