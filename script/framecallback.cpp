#include "script/framecallback.h"

extern "C" {
#include <lua.h>
}

#include "script/luaengine.h"
#include "script/scriptfailures.h"

FrameCallback g_updateCallback("update", g_scriptFailures.update);
FrameCallback g_renderCallback("render", g_scriptFailures.render);

void RetryFrameCallbacks(bool afterLoad)
{
    g_updateCallback.Retry(afterLoad);
    g_renderCallback.Retry(afterLoad);
}

FrameCallback::FrameCallback(const char* global, ScriptFailure& failure)
    : global(global)
    , chunk(std::string(global) + "()")
    , failure(failure)
{
}

void FrameCallback::Retry(bool afterLoad)
{
    retryDue = true;
    if (afterLoad)
        stopped = false;
}

namespace {
struct Entries {
    void* name;
    void* working;
    void* failing;
    const char* global;
};
}

// The registry holds the global's name, so that looking the global up never has to make the
// string (and so never allocates, even in a state that is out of memory), and the two versions:
// an entry forgotten is false rather than nil, so that setting it again allocates nothing either.
static int SetUpEntries(lua_State* L)
{
    const Entries* entries = static_cast<const Entries*>(lua_touserdata(L, 1));
    lua_pushlightuserdata(L, entries->name);
    lua_pushstring(L, entries->global);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, entries->working);
    lua_pushboolean(L, 0);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, entries->failing);
    lua_pushboolean(L, 0);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return 0;
}

// A new state (the first frame, or a state made again) knows nothing of earlier versions.
bool FrameCallback::KnowsState()
{
    lua_State* L = g_luaState;
    lua_pushlightuserdata(L, &nameSlot);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const bool known = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (known)
        return true;
    failing = stopped = retryDue = false;
    Entries entries{&nameSlot, &workingSlot, &failingSlot, global};
    if (lua_cpcall(L, SetUpEntries, &entries) == 0)
        return true;
    lua_pop(L, 1);
    return false;
}

// Whether the version on top of the stack is the one that failed or was stopped.
bool FrameCallback::SameAsFailing()
{
    lua_State* L = g_luaState;
    lua_pushlightuserdata(L, &failingSlot);
    lua_rawget(L, LUA_REGISTRYINDEX);
    const bool same = lua_rawequal(L, -1, -2);
    lua_pop(L, 1);
    return same;
}

bool FrameCallback::PushOlderVersion()
{
    lua_State* L = g_luaState;
    lua_pushlightuserdata(L, &workingSlot);
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_isboolean(L, -1) || lua_rawequal(L, -1, -2)) {
        lua_pop(L, 1);
        return false;
    }
    return true;
}

// The registry entry of that slot holds the value on top of the stack from now on.
void FrameCallback::Keep(char& slot)
{
    lua_State* L = g_luaState;
    lua_pushlightuserdata(L, &slot);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

void FrameCallback::Run()
{
    lua_State* L = g_luaState;
    std::string error;
    if (!L || !KnowsState()) {
        const bool worked = RunQuietly(chunk, error) == ChunkEnd::Worked;
        g_scriptFailures.Note(failure, chunk, worked ? std::string() : error);
        return;
    }
    // Raw, as a script's own __index on the globals may raise, and nothing here is protected.
    lua_pushlightuserdata(L, &nameSlot);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_rawget(L, LUA_GLOBALSINDEX);
    if ((failing || stopped) && !SameAsFailing())
        failing = stopped = false;
    // With no other version to run, a failing one is called on every frame, as the only one.
    if (failing && !retryDue && PushOlderVersion())
        lua_pop(L, 1);
    else
        failing = false;
    retryDue = false;
    if (!failing && !stopped) {
        const ChunkEnd end = RunQuietly(chunk, error);
        if (end == ChunkEnd::Worked) {
            Keep(workingSlot);
            lua_pop(L, 1);
            failure.standing = ScriptFailure::Standing::Repeating;
            g_scriptFailures.Note(failure, chunk, std::string());
            return;
        }
        Keep(failingSlot);
        (end == ChunkEnd::Interrupted ? stopped : failing) = true;
        g_scriptFailures.Note(failure, chunk, error);
    }
    failure.standing = stopped ? ScriptFailure::Standing::Stopped : ScriptFailure::Standing::Repeating;
    if (PushOlderVersion()) {
        if (RunQuietly(chunk, error, true) == ChunkEnd::Worked) {
            if (!stopped)
                failure.standing = ScriptFailure::Standing::OlderVersionRuns;
        } else {
            // It fails too now: no stand-in any more.
            lua_pushlightuserdata(L, &workingSlot);
            lua_pushboolean(L, 0);
            lua_rawset(L, LUA_REGISTRYINDEX);
            g_scriptFailures.Note(failure, chunk, error);
        }
    }
    lua_pop(L, 1);
}
