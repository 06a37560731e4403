#pragma once
// The sync tracks' script functions: setSyncTempo, getSyncRow, getTrack and the tracks' value(),
// loadSyncDocument.

struct lua_State;

void RegisterSyncBindings(lua_State* L);
