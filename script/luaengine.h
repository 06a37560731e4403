#pragma once
// The one Lua state of the process and the single path every chunk takes through it.

#include <chrono>
#include <cstddef>
#include <string>

struct lua_State;

extern lua_State* g_luaState;

void InitLua();
void CloseLua();

// Runs a chunk of Lua text. On return output holds what print() produced during the chunk and
// error the error text ("" on success, otherwise the message and "\n"). With values, it also gets
// what the chunk returned, for the console: "" when nothing, otherwise each value as tostring
// gives it, tab-separated, and "\n". The Lua stack is left as it was found. Errors are also
// written to standard output as the chunk text, ": " and the error.
void ExecuteLua(std::string chunk, std::string& output, std::string& error, std::string* values = nullptr);

// Called at the very end of every ExecuteLua, after any collection it made; null for none.
void SetChunkEndHook(void (*hook)());

// ExecuteLua with the output thrown away: errors reach standard output only.
void RunLuaString(std::string chunk);

// Asks the chunk running now, if one is, to stop at its next hook with "script interrupted:
// stopped from the keyboard"; a chunk that begins later runs on. Safe to call from any thread.
void StopRunningChunk();
// Whether a chunk was interrupted, by its time limit or a stop, since the last call.
bool TakeChunkInterrupted();

// How long a chunk may run and how large the state may grow (10 s and 1 GiB unless changed).
void SetLuaLimits(std::chrono::milliseconds timeLimit, size_t memoryLimit);
