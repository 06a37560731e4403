#include "script/luaengine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <malloc.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "script/outputexcerpt.h"

lua_State* g_luaState = nullptr;

// What print() wrote during the chunk now running, as the console will show it.
static OutputExcerpt g_luaOutput;

static const char kNonStringError[] = "(error object is not a string)";

// A chunk may run this long before it is stopped, so that a runaway loop cannot freeze the
// window for good: the GUI thread is inside it.
static std::chrono::milliseconds g_timeLimit{10000};
static std::string g_timeLimitMessage = "script interrupted: ran longer than 10 s";
static const char kStoppedMessage[] = "script interrupted: stopped from the keyboard";
// The hook looks at the clock and for a stop once per this many instructions: cheap enough for
// the frame loop, and soon enough for a person.
static constexpr int kHookInstructionCount = 1000;
static std::chrono::steady_clock::time_point g_deadline;
static bool g_interrupted = false;
static const char* g_interruptMessage = kStoppedMessage;
// Whether a chunk has been interrupted since TakeChunkInterrupted last asked.
static bool g_interruptedSinceAsked = false;
// Odd while a chunk runs, one more at each start and each end, so that every chunk has a number
// of its own: a stop asked for from another thread names the chunk it meant, and a chunk that
// begins after it is not stopped.
static std::atomic<unsigned long> g_chunkSerial{0};
static std::atomic<unsigned long> g_stopSerial{0};

// The state may not grow past this; a script that tries gets Lua's "not enough memory".
static size_t g_memoryLimit = size_t(1) << 30;
static size_t g_memoryInUse = 0;
static bool g_memoryExhausted = false;
// After running out, the state may grow this far above what it held after its collection, so
// that the next command (the one that frees what filled it) and the callbacks can run. Once the
// state is back below the limit by as much, the reserve is kept again.
static constexpr size_t kMemoryReserve = size_t(16) << 20;
static bool g_reserveOpen = false;
static size_t g_liveAfterCollection = 0;
// Memory freed by the state stays with the C library, in pieces among the pages still used,
// until it is trimmed: once this much has been freed since the most the state held, it is.
static constexpr size_t kTrimAfterFreeing = size_t(64) << 20;
static size_t g_memoryPeak = 0;
// A full collection, made before it is needed: an exhausted state may have no room for a new
// function to call.
static int g_collectRef = LUA_NOREF;
// CallShowingValues, made once for the same reason.
static int g_showValuesRef = LUA_NOREF;
static void (*g_chunkEndHook)() = nullptr;

// Lua names a chunk after its text, as [string "first line"], but takes a name that starts with
// "=" or "@" as the name itself or a file's: a command such as "@x" or "=x" would report its
// errors at x:1:. Such a chunk gets the name Lua gives any other, spelled out; the rest keep
// their text. Neither character starts a statement, so such a chunk only ever has a syntax error,
// whose location Lua shows with this much of the first line.
static constexpr size_t kShownNameChars = 63;

static std::string ChunkName(const std::string& chunk)
{
    if (chunk.empty() || (chunk[0] != '=' && chunk[0] != '@'))
        return chunk;
    const std::string text = chunk.c_str();
    const size_t line = std::min(text.find_first_of("\n\r"), kShownNameChars);
    const std::string shown = line < text.size() ? text.substr(0, line) + "..." : text;
    return "=[string \"" + shown + "\"]";
}

static void* LimitedAlloc(void*, void* block, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        std::free(block);
        g_memoryInUse -= oldSize;
        return nullptr;
    }
    const size_t ceiling = g_reserveOpen ? std::max(g_memoryLimit, g_liveAfterCollection) + kMemoryReserve : g_memoryLimit;
    if (newSize > oldSize && g_memoryInUse + (newSize - oldSize) > ceiling) {
        g_memoryExhausted = true;
        return nullptr;
    }
    void* grown = std::realloc(block, newSize);
    if (grown) {
        g_memoryInUse = g_memoryInUse - oldSize + newSize;
        g_memoryPeak = std::max(g_memoryPeak, g_memoryInUse);
    }
    return grown;
}

static int LuaPanic(lua_State* L)
{
    const char* message = lua_tostring(L, -1);
    std::printf("Lua panic: %s\n", message ? message : kNonStringError);
    std::fflush(stdout);
    return 0;
}

// Once the deadline has passed, or a stop was asked for, the hook fires on every instruction and
// raises each time, so a script that catches the error with pcall is stopped again at its next
// instruction.
static void GuardHook(lua_State* L, lua_Debug*)
{
    if (!g_interrupted) {
        if (g_stopSerial.load(std::memory_order_relaxed) == g_chunkSerial.load(std::memory_order_relaxed))
            g_interruptMessage = kStoppedMessage;
        else if (std::chrono::steady_clock::now() < g_deadline)
            return;
        else
            g_interruptMessage = g_timeLimitMessage.c_str();
        g_interrupted = true;
        lua_sethook(L, GuardHook, LUA_MASKCOUNT | LUA_MASKLINE, 1);
    }
    lua_pushstring(L, g_interruptMessage);
    lua_error(L);
}

void StopRunningChunk()
{
    const unsigned long serial = g_chunkSerial.load();
    if (serial % 2 == 1)
        g_stopSerial.store(serial);
}

bool TakeChunkInterrupted()
{
    const bool interrupted = g_interruptedSinceAsked;
    g_interruptedSinceAsked = false;
    return interrupted;
}

static std::string DescribeDuration(std::chrono::milliseconds duration)
{
    const long long ms = duration.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

void SetLuaLimits(std::chrono::milliseconds timeLimit, size_t memoryLimit)
{
    g_timeLimit = timeLimit;
    g_timeLimitMessage = "script interrupted: ran longer than " + DescribeDuration(timeLimit);
    g_memoryLimit = memoryLimit;
}

static void AppendCaptured(const char* text, size_t length)
{
    g_luaOutput.Append(text, length);
    g_luaOutput.Append("\r\n", 2);
}

static int CollectGarbage(lua_State* L)
{
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

// Pushes the values from first to last as one text: each converted by the standard tostring
// (upvalue 1 of the calling function, so that a script's own tostring, or none, changes
// nothing), separated by tabs. May raise, since a __tostring may.
static void PushTabbedText(lua_State* L, int first, int last)
{
    luaL_checkstack(L, LUA_MINSTACK, "too many values to show");
    luaL_Buffer text;
    luaL_buffinit(L, &text);
    for (int i = first; i <= last; ++i) {
        if (i > first)
            luaL_addchar(&text, '\t');
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        if (!lua_isstring(L, -1))
            luaL_error(L, "'tostring' must return a string to show a value");
        luaL_addvalue(&text);
    }
    luaL_pushresult(&text);
}

// Calls the chunk below it and returns what it returned as one text, or nothing when it returned
// nothing. Runs protected.
static int CallShowingValues(lua_State* L)
{
    lua_call(L, 0, LUA_MULTRET);
    const int n = lua_gettop(L);
    if (n == 0)
        return 0;
    PushTabbedText(L, 1, n);
    return 1;
}

// log() writes at most this many lines a second; the rest of that second's are counted, and the
// count is written as one line once the second is over.
static constexpr int kLogLinesASecond = 100;
static std::chrono::steady_clock::time_point g_logSecondStart;
static int g_logLinesThisSecond = 0;
static long long g_logLinesLeftOut = 0;
static void (*g_logSink)(const std::string&) = nullptr;
// While a console command runs its log lines join its output, in order with what it prints.
static bool g_logJoinsOutput = false;

std::string GroupedNumber(long long n)
{
    std::string digits = std::to_string(n);
    for (int i = int(digits.size()) - 3; i > (n < 0 ? 1 : 0); i -= 3)
        digits.insert(size_t(i), ",");
    return digits;
}

static void EmitLogLine(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (g_logJoinsOutput)
        AppendCaptured(line.data(), line.size());
    else if (g_logSink)
        g_logSink(line);
}

void SetLogSink(void (*sink)(const std::string& line))
{
    g_logSink = sink;
}

void SayFoldedLog()
{
    if (g_logLinesLeftOut == 0)
        return;
    const long long leftOut = g_logLinesLeftOut;
    g_logLinesLeftOut = 0;
    EmitLogLine("[... " + GroupedNumber(leftOut) + (leftOut == 1 ? " more log line" : " more log lines")
                + " in that second left out ...]");
}

// Begins a new second of log lines once the last is over, saying what it left out.
static void TurnLogSecond(std::chrono::steady_clock::time_point now)
{
    if (now - g_logSecondStart < std::chrono::seconds(1))
        return;
    SayFoldedLog();
    g_logSecondStart = now;
    g_logLinesThisSecond = 0;
}

// log(...): the values as tostring writes them, tab-separated, on one line of standard output
// and of the console. Nothing with a destructor lives here: the conversion may raise.
static int LuaLog(lua_State* L)
{
    PushTabbedText(L, 1, lua_gettop(L));
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    TurnLogSecond(std::chrono::steady_clock::now());
    if (++g_logLinesThisSecond > kLogLinesASecond)
        ++g_logLinesLeftOut;
    else
        EmitLogLine(std::string(text, length));
    return 0;
}

// print(...): every argument becomes a line of its own ending in CR LF.
static int LuaPrint(lua_State* L)
{
    const int n = lua_gettop(L);
    for (int i = 1; i <= n; ++i) {
        size_t length = 0;
        const char* text = lua_isstring(L, i) ? lua_tolstring(L, i, &length) : nullptr;
        if (text)
            AppendCaptured(text, length);
        else
            AppendCaptured("Not a string", 12);
    }
    return 0;
}

// foo(...): the average and the sum of its numeric arguments.
static int LuaAverageSum(lua_State* L)
{
    const int n = lua_gettop(L);
    double sum = 0.0;
    for (int i = 1; i <= n; ++i) {
        if (!lua_isnumber(L, i)) {
            lua_pushstring(L, "incorrect argument");
            return lua_error(L);
        }
        sum += lua_tonumber(L, i);
    }
    lua_pushnumber(L, sum / n);
    lua_pushnumber(L, sum);
    return 2;
}

void InitLua()
{
    g_memoryInUse = g_memoryPeak = 0;
    g_reserveOpen = false;
    g_interruptedSinceAsked = false;
    g_luaState = lua_newstate(LimitedAlloc, nullptr);
    if (!g_luaState) {
        std::fputs("Error!\ncannot create the Lua state: not enough memory\n", stdout);
        std::fflush(stdout);
        return;
    }
    lua_atpanic(g_luaState, LuaPanic);
    // Threads created later copy this hook, so coroutines are bounded too.
    lua_sethook(g_luaState, GuardHook, LUA_MASKCOUNT, kHookInstructionCount);
    luaL_openlibs(g_luaState);
    lua_register(g_luaState, "foo", LuaAverageSum);
    lua_register(g_luaState, "print", LuaPrint);
    lua_pushcfunction(g_luaState, CollectGarbage);
    g_collectRef = luaL_ref(g_luaState, LUA_REGISTRYINDEX);
    lua_getglobal(g_luaState, "tostring");
    lua_pushcclosure(g_luaState, CallShowingValues, 1);
    g_showValuesRef = luaL_ref(g_luaState, LUA_REGISTRYINDEX);
    lua_getglobal(g_luaState, "tostring");
    lua_pushcclosure(g_luaState, LuaLog, 1);
    lua_setglobal(g_luaState, "log");
}

// The finalisers lua_close runs still see the state; after it nothing does.
void CloseLua()
{
    if (g_luaState)
        lua_close(g_luaState);
    g_luaState = nullptr;
}

// The error value on top of the stack, popped into error. Echoed, it goes to standard output
// whole after the chunk's text, and into error as the console shows it; otherwise whole.
static void TakeError(lua_State* L, const std::string& chunk, std::string& error, bool echo)
{
    size_t length = 0;
    const char* message = lua_tolstring(L, -1, &length);
    if (!message) {
        message = kNonStringError;
        length = sizeof kNonStringError - 1;
    }
    if (echo) {
        OutputExcerpt shown;
        shown.Append(message, length);
        error += shown.Text() + '\n';
        std::fwrite(chunk.data(), 1, chunk.size(), stdout);
        std::fputs(": ", stdout);
        std::fwrite(message, 1, length, stdout);
        std::fputs("\n\n", stdout);
        std::fflush(stdout);
    } else {
        error.append(message, length);
        error += '\n';
    }
    lua_pop(L, 1);
}

// A full collection, protected: finalizers run in it and may raise, which is one more error of
// the chunk.
static void CollectAll(lua_State* L, const std::string& chunk, std::string& error, bool echo)
{
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_collectRef);
    if (lua_pcall(L, 0, 0, 0) != 0)
        TakeError(L, chunk, error, echo);
    g_liveAfterCollection = g_memoryInUse;
}

// After each chunk. An exhausted state keeps failing until its garbage is collected, and has no
// room left for the command that would free it: it is collected at once, and the reserve opens.
// While the reserve is open, garbage is collected before it can fill the reserve, so that the
// callbacks do not fail on and off while the state is full. Memory the state freed goes back to
// the system.
static void KeepMemoryInBounds(lua_State* L, const std::string& chunk, std::string& error, bool echo)
{
    if (g_memoryExhausted || (g_reserveOpen && g_memoryInUse > g_liveAfterCollection + kMemoryReserve / 2)) {
        g_memoryExhausted = false;
        g_reserveOpen = true;
        CollectAll(L, chunk, error, echo);
    }
    if (g_reserveOpen && g_memoryInUse + kMemoryReserve <= g_memoryLimit)
        g_reserveOpen = false;
    if (g_memoryPeak - g_memoryInUse > kTrimAfterFreeing) {
        malloc_trim(0);
        g_memoryPeak = g_memoryInUse;
    }
}

// The one path of every chunk: loads its text, or takes the function on top of the stack, and
// calls it protected, with the time limit, the stop keys and the memory limit in force. The Lua
// stack is left as it was found (less the function taken).
static ChunkEnd Execute(const std::string& chunk, std::string& error, std::string* values, bool echo, bool callTop)
{
    lua_State* L = g_luaState;
    const int top = lua_gettop(L) - (callTop ? 1 : 0);
    g_chunkSerial.fetch_add(1);
    g_deadline = std::chrono::steady_clock::now() + g_timeLimit;
    int status = callTop ? 0 : luaL_loadbuffer(L, chunk.data(), chunk.size(), ChunkName(chunk).c_str());
    if (status == 0 && values) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, g_showValuesRef);
        lua_insert(L, -2);
        status = lua_pcall(L, 1, LUA_MULTRET, 0);
        if (status == 0 && lua_gettop(L) > top) {
            size_t length = 0;
            const char* text = lua_tolstring(L, -1, &length);
            OutputExcerpt shown;
            shown.Append(text, length);
            *values = shown.Text() + '\n';
        }
    } else if (status == 0) {
        status = lua_pcall(L, 0, LUA_MULTRET, 0);
    }
    if (status != 0)
        TakeError(L, chunk, error, echo);
    lua_settop(L, top);
    g_chunkSerial.fetch_add(1);
    const bool interrupted = g_interrupted;
    if (g_interrupted) {
        g_interrupted = false;
        g_interruptedSinceAsked = true;
        lua_sethook(L, GuardHook, LUA_MASKCOUNT, kHookInstructionCount);
    }
    KeepMemoryInBounds(L, chunk, error, echo);
    if (g_logLinesLeftOut > 0)
        TurnLogSecond(std::chrono::steady_clock::now());
    // Last, as a finalizer run by the collection may begin a shape too.
    if (g_chunkEndHook)
        g_chunkEndHook();
    if (status == 0)
        return ChunkEnd::Worked;
    return interrupted ? ChunkEnd::Interrupted : ChunkEnd::Failed;
}

void ExecuteLua(std::string chunk, std::string& output, std::string& error, std::string* values)
{
    g_luaOutput.Clear();
    error.clear();
    if (values)
        values->clear();
    if (!g_luaState) {
        error = "no Lua state\n";
        output.clear();
        return;
    }
    g_logJoinsOutput = values != nullptr;
    Execute(chunk, error, values, true, false);
    g_logJoinsOutput = false;
    output = g_luaOutput.Text();
}

ChunkEnd RunQuietly(const std::string& chunk, std::string& error, bool callTop)
{
    g_luaOutput.Clear();
    error.clear();
    if (!g_luaState) {
        error = "no Lua state\n";
        return ChunkEnd::Failed;
    }
    return Execute(chunk, error, nullptr, false, callTop);
}

void SetChunkEndHook(void (*hook)())
{
    g_chunkEndHook = hook;
}

void RunLuaString(std::string chunk)
{
    std::string output, error;
    ExecuteLua(std::move(chunk), output, error);
}
