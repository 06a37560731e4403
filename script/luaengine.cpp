#include "script/luaengine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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
    if (newSize > oldSize && g_memoryInUse + (newSize - oldSize) > g_memoryLimit) {
        g_memoryExhausted = true;
        return nullptr;
    }
    void* grown = std::realloc(block, newSize);
    if (grown)
        g_memoryInUse = g_memoryInUse - oldSize + newSize;
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

// Calls the chunk below it and returns what it returned as one text: each value converted by the
// standard tostring (upvalue 1, so that a script's own tostring, or none, changes nothing),
// separated by tabs. Returns nothing when the chunk returned nothing. Runs protected, since a
// __tostring may raise.
static int CallShowingValues(lua_State* L)
{
    lua_call(L, 0, LUA_MULTRET);
    const int n = lua_gettop(L);
    if (n == 0)
        return 0;
    luaL_checkstack(L, LUA_MINSTACK, "too many values to show");
    luaL_Buffer text;
    luaL_buffinit(L, &text);
    for (int i = 1; i <= n; ++i) {
        if (i > 1)
            luaL_addchar(&text, '\t');
        lua_pushvalue(L, lua_upvalueindex(1));
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        if (!lua_isstring(L, -1))
            return luaL_error(L, "'tostring' must return a string to show a value");
        luaL_addvalue(&text);
    }
    luaL_pushresult(&text);
    return 1;
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
    g_memoryInUse = 0;
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
}

// The finalisers lua_close runs still see the state; after it nothing does.
void CloseLua()
{
    if (g_luaState)
        lua_close(g_luaState);
    g_luaState = nullptr;
}

// The error value on top of the stack, popped: to standard output whole after the chunk's
// text, and to error as the console shows it.
static void ReportError(lua_State* L, const std::string& chunk, std::string& error)
{
    size_t length = 0;
    const char* message = lua_tolstring(L, -1, &length);
    if (!message) {
        message = kNonStringError;
        length = sizeof kNonStringError - 1;
    }
    OutputExcerpt shown;
    shown.Append(message, length);
    error += shown.Text() + '\n';
    std::fwrite(chunk.data(), 1, chunk.size(), stdout);
    std::fputs(": ", stdout);
    std::fwrite(message, 1, length, stdout);
    std::fputs("\n\n", stdout);
    std::fflush(stdout);
    lua_pop(L, 1);
}

void ExecuteLua(std::string chunk, std::string& output, std::string& error, std::string* values)
{
    g_luaOutput.Clear();
    error.clear();
    if (values)
        values->clear();
    lua_State* L = g_luaState;
    if (!L) {
        error = "no Lua state\n";
        output.clear();
        return;
    }
    const int top = lua_gettop(L);
    g_chunkSerial.fetch_add(1);
    g_deadline = std::chrono::steady_clock::now() + g_timeLimit;
    int status = luaL_loadbuffer(L, chunk.data(), chunk.size(), ChunkName(chunk).c_str());
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
        ReportError(L, chunk, error);
    lua_settop(L, top);
    g_chunkSerial.fetch_add(1);
    if (g_interrupted) {
        g_interrupted = false;
        g_interruptedSinceAsked = true;
        lua_sethook(L, GuardHook, LUA_MASKCOUNT, kHookInstructionCount);
    }
    if (g_memoryExhausted) {
        // An exhausted state keeps failing until its garbage is collected. Finalizers run in
        // the collection and may raise: protected, that is one more error of this chunk.
        g_memoryExhausted = false;
        lua_rawgeti(L, LUA_REGISTRYINDEX, g_collectRef);
        if (lua_pcall(L, 0, 0, 0) != 0)
            ReportError(L, chunk, error);
    }
    // Last, as a finalizer run by the collection may begin a shape too.
    if (g_chunkEndHook)
        g_chunkEndHook();
    output = g_luaOutput.Text();
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
