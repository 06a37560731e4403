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

// How a chunk the host ran on its own ended; Interrupted is a stop from the keyboard or the time
// limit.
enum class ChunkEnd { Worked, Failed, Interrupted };
// For the chunks the host runs on every frame, whose errors the caller says once: runs the chunk
// as ExecuteLua does, but writes nothing to standard output, throws print's output away and gives
// the whole message and "\n" in error. With callTop it calls the function on top of the stack
// (popping it) in place of loading the chunk, whose text then only names it.
ChunkEnd RunQuietly(const std::string& chunk, std::string& error, bool callTop = false);

// Where log() lines of chunks other than console commands go besides standard output (the
// console, above its prompt); null for nowhere else. A console command's lines join its output.
void SetLogSink(void (*sink)(const std::string& line));
// Writes the count of log() lines left out in the latest second, if any, as the end of a run.
void SayFoldedLog();

// A count as the host writes it in its lines: 1830 as "1,830".
std::string GroupedNumber(long long n);

// Asks the chunk running now, if one is, to stop at its next hook with "script interrupted:
// stopped from the keyboard"; a chunk that begins later runs on. Safe to call from any thread.
void StopRunningChunk();
// Whether a chunk was interrupted, by its time limit or a stop, since the last call.
bool TakeChunkInterrupted();

// How long a chunk may run and how large the state may grow (10 s and 1 GiB unless changed).
// Once a chunk has run out of memory, a reserve above the limit lets the next chunks run (to
// free what filled it) until the state is back below the limit by the reserve's size.
void SetLuaLimits(std::chrono::milliseconds timeLimit, size_t memoryLimit);
