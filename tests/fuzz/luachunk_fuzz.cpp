// Every input is one chunk, run through the engine in a state of its own from which the
// functions that reach files, processes, the exit or the hook have been removed. Whatever the
// chunk does, the run must end, leave the stack as it was and leave the state usable.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <lua.h>
}

#include "script/luaengine.h"

// Small limits keep each input quick and within the fuzzer's own memory limit.
static constexpr std::chrono::milliseconds kFuzzTimeLimit{50};
static constexpr size_t kFuzzMemoryLimit = size_t(32) << 20;

// debug could take the time-limit hook away; string.dump makes bytecode, which Lua 5.1 loads
// without verifying it.
static const char kSandbox[] =
    "os, io, loadfile, dofile, require, package, module, debug = nil "
    "string.dump = nil";

static void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every failing chunk is echoed to standard output; the fuzzer reports on standard error.
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    SetLuaLimits(kFuzzTimeLimit, kFuzzMemoryLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InitLua();
    if (!g_luaState)
        Fail("no state", "");
    std::string output, error;
    ExecuteLua(kSandbox, output, error);
    if (!error.empty())
        Fail("sandbox", error);

    ExecuteLua(std::string(reinterpret_cast<const char*>(data), size), output, error);
    if (!error.empty() && error.back() != '\n')
        Fail("error text without its newline", error);
    if (lua_gettop(g_luaState) != 0)
        Fail("stack not restored", std::to_string(lua_gettop(g_luaState)));

    // Locals only: the chunk may have replaced any global or put a metatable on _G. A chunk that
    // keeps the state full leaves it full; that is the memory limit working.
    ExecuteLua("local x = {} for i = 1, 100 do x[i] = {i} end", output, error);
    if (!error.empty() && error.find("not enough memory") == std::string::npos)
        Fail("state unusable after the chunk", error);
    CloseLua();
    return 0;
}
