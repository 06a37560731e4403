#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

extern "C" {
#include <lua.h>
}

#include "script/luaengine.h"

namespace {

struct Result {
    std::string output = "stale", error = "stale", stdout;  // the engine replaces both
};

class ScriptEngine : public ::testing::Test {
protected:
    void SetUp() override { InitLua(); }
    void TearDown() override { CloseLua(), SetLuaLimits(std::chrono::milliseconds(10000), size_t(1) << 30); }
    static Result Run(const std::string& chunk)
    {
        Result r;
        testing::internal::CaptureStdout();
        ExecuteLua(chunk, r.output, r.error);
        r.stdout = testing::internal::GetCapturedStdout();
        return r;
    }
    static std::string Lines(int from, int to)
    {
        std::string text;
        for (int i = from; i <= to; ++i) text += std::to_string(i) + "\r\n";
        return text;
    }
};

TEST_F(ScriptEngine, PrintGivesEachArgumentALineAndFooAveragesAndSums)
{
    EXPECT_EQ(Run("print(1, nil, 'x', {}, true, 2.5)").output,
              "1\r\nNot a string\r\nx\r\nNot a string\r\nNot a string\r\n2.5\r\n");
    EXPECT_EQ(Run("print()").output, "");
    EXPECT_EQ(Run("print(foo(1, 2, 3)) print(foo('4'))").output, "2\r\n6\r\n4\r\n4\r\n");
    EXPECT_EQ(Run("local a, b = foo() print(a ~= a and 'nan', b)").output, "nan\r\n0\r\n");
    EXPECT_EQ(Run("x = 1").output, "");  // only the latest chunk's output
}

TEST_F(ScriptEngine, ErrorsReachTheCallerAndStandardOutputAsChunkColonMessage)
{
    Result r = Run("print('before') foo(1, 'a')");
    EXPECT_EQ(r.output + '|' + r.error, "before\r\n|incorrect argument\n");
    EXPECT_EQ(r.stdout, "print('before') foo(1, 'a'): incorrect argument\n\n");
    r = Run("x = = 1");
    EXPECT_EQ(r.stdout.rfind("x = = 1: [string \"x = = 1\"]:1:", 0), 0u) << r.stdout;
    EXPECT_EQ(r.error, r.stdout.substr(9, r.stdout.size() - 10));
    // Every chunk is named by its text, one that starts like a file's or a given name too.
    for (const std::string start : {"z", "@", "="}) {
        EXPECT_EQ(Run(start + "x = = 1").error.rfind("[string \"" + start + "x = = 1\"]:1:", 0), 0u) << start;
        const std::string line = start + std::string(60, 'y') + " = = 1";
        EXPECT_EQ(Run(line).error.rfind("[string \"" + line.substr(0, 63) + "...\"]:1:", 0), 0u) << start;
        EXPECT_EQ(Run(start + "\nx = = 1").error.rfind("[string \"" + start + "...\"]:", 0), 0u) << start;
    }
    const std::string placeholder = "(error object is not a string)\n";
    for (const char* chunk : {"error()", "error({})", "error(setmetatable({}, {__tostring = print}))"})
        EXPECT_EQ(Run(chunk).error, placeholder) << chunk;
    EXPECT_EQ(Run("error(7, 0)").error, "7\n");
    EXPECT_EQ(Run("print('quiet')").stdout + Run("").error, "");
}

TEST_F(ScriptEngine, TheStateOutlivesFailuresAndTheStackStaysAsFound)
{
    const int top = lua_gettop(g_luaState);
    Run("kept = 41 function f() return kept + 1 end error('late')");
    for (int i = 0; i < 100; ++i)
        Run("return 1, 2, 3");
    EXPECT_EQ(Run("print(f())").output, "42\r\n");
    EXPECT_EQ(lua_gettop(g_luaState), top);
    testing::internal::CaptureStdout();
    RunLuaString("print('hidden') shared = 5 nosuch()");
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("print('hidden') shared = 5 nosuch(): [string", 0), 0u);
    EXPECT_EQ(Run("print(shared)").output, "5\r\n");
    // Closed, the state is gone for whoever asks, and a chunk says so.
    CloseLua();
    EXPECT_EQ(g_luaState, nullptr);
    EXPECT_EQ(Run("shared = 6").error, "no Lua state\n");
    InitLua();
}

// The console shows up to 500 lines or 16 KiB from each end of a command's output, cut at line starts.
TEST_F(ScriptEngine, LongOutputKeepsItsStartAndEndAndCountsWhatIsLeftOut)
{
    EXPECT_EQ(Run("for i = 1, 1000 do print(i) end").output, Lines(1, 1000));
    EXPECT_EQ(Run("for i = 1, 1001 do print(i) end").output,
              Lines(1, 500) + "[... 1 line and 5 bytes left out ...]\r\n" + Lines(502, 1001));
    const std::string left = Lines(501, 99698);  // the output ends just as its kept end is trimmed
    EXPECT_EQ(Run("for i = 1, 100198 do print(i) end").output,
              Lines(1, 500) + "[... 99198 lines and " + std::to_string(left.size()) +
                  " bytes left out ...]\r\n" + Lines(99699, 100198));
    EXPECT_EQ(Run("for i = 1, 500 do print(i) end print('a') print(string.rep('b', 16380))").output,
              Lines(1, 500) + "[... 1 line and 3 bytes left out ...]\r\n" + std::string(16380, 'b') + "\r\n");
    const std::string cutAtBreak = Run("for i = 1, 500 do print(i) end print('\\na') for i = 1, 499 do print(i) end").output;
    EXPECT_EQ(cutAtBreak.substr(Lines(1, 500).size(), 16), "[... 1 line and ");

    // One long line is cut within itself, never inside a character (U+20AC is three bytes).
    std::string euros;
    for (int i = 0; i < 5461; ++i)
        euros += "\xe2\x82\xac";
    EXPECT_EQ(Run("print(string.rep('\xe2\x82\xac', 400000))").output,
              euros + "\r\n[... 1167237 bytes left out ...]\r\n" + euros.substr(3) + "\r\n");
    const Result e = Run("error(string.rep('e', 100000), 0)");
    EXPECT_EQ(e.stdout, "error(string.rep('e', 100000), 0): " + std::string(100000, 'e') + "\n\n");
    EXPECT_TRUE(e.error.size() < 40000 && e.error.substr(e.error.size() - 3) == "ee\n") << e.error.size();
}

TEST_F(ScriptEngine, RunawayChunksAreStoppedWithTheLimitInForce)
{
    SetLuaLimits(std::chrono::milliseconds(200), size_t(64) << 20);
    const std::string interrupted = "script interrupted: ran longer than 200 ms\n";
    EXPECT_EQ(Run("x = 1 while true do end").error, interrupted);
    EXPECT_EQ(Run("while true do pcall(function() while true do end end) end").error, interrupted);
    EXPECT_EQ(Run("while true do pcall(error) end").error, interrupted);
    const std::string co = Run("co = coroutine.wrap(function() while true do end end) co()").error;
    EXPECT_NE(co.find(interrupted), std::string::npos) << co;
    EXPECT_EQ(Run("local n = 0 for i = 1, 1e5 do n = n + i end print(x)").output, "1\r\n");
    // The next chunk is checked as cheaply as before: every 1000 instructions, not every line.
    EXPECT_EQ(Run("print(select(2, debug.gethook()))").output, "\r\n1000\r\n");
    SetLuaLimits(std::chrono::milliseconds(1000), size_t(64) << 20);
    EXPECT_EQ(Run("while true do end").error, "script interrupted: ran longer than 1 s\n");
}

// A stop asked for from another thread ends the chunk running then, through its pcalls, and no
// chunk that starts after it; each interrupt is told once to whoever asks.
TEST_F(ScriptEngine, AStopEndsTheRunningChunkOnlyAndIsToldOnce)
{
    EXPECT_FALSE(TakeChunkInterrupted());
    const std::string stopped = "script interrupted: stopped from the keyboard\n";
    // The chunk says when it has begun; the stop comes after that, however late the thread runs.
    static std::atomic<bool> runningAway;
    const lua_CFunction began = [](lua_State*) {
        runningAway = true;
        return 0;
    };
    lua_register(g_luaState, "runningAway", began);
    for (const char* chunk : {"runningAway() while true do end",
                              "runningAway() while true do pcall(function() while true do end end) end"}) {
        runningAway = false;
        std::thread stopper([] {
            while (!runningAway)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            StopRunningChunk();
        });
        EXPECT_EQ(Run(chunk).error, stopped);
        stopper.join();
        EXPECT_TRUE(TakeChunkInterrupted());
        EXPECT_FALSE(TakeChunkInterrupted());
    }
    StopRunningChunk();  // nothing runs: nothing to stop
    EXPECT_EQ(Run("local n = 0 for i = 1, 1e5 do n = n + i end print(n)").output, "5000050000\r\n");
    EXPECT_FALSE(TakeChunkInterrupted());
    SetLuaLimits(std::chrono::milliseconds(200), size_t(64) << 20);
    EXPECT_EQ(Run("while true do end").error, "script interrupted: ran longer than 200 ms\n");
    EXPECT_TRUE(TakeChunkInterrupted());
}

TEST_F(ScriptEngine, ExhaustedMemoryIsReportedCollectedAndSurvivesARaisingFinalizer)
{
    SetLuaLimits(std::chrono::milliseconds(60000), size_t(48) << 20);
    // Growing a block counts only what it adds: 16 MiB grow to 32 MiB under a limit of 48.
    EXPECT_EQ(Run("local t = {} for i = 1, 2^21 do t[i] = i end print(#t)").output, "2097152\r\n");
    for (int round = 0; round < 2; ++round) {
        const std::string error = Run("local t = {} while true do t[#t + 1] = {} end").error;
        EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
        EXPECT_EQ(Run("local t = {} for i = 1, 1000 do t[i] = {} end print(#t)").output, "1000\r\n");
    }
    // Collected after the failure, the finalizer raises: one more error, and the state goes on.
    const Result r = Run("local p = newproxy(true) getmetatable(p).__gc = function() error('in gc', 0) end "
                         "local t = {p} while true do t[#t + 1] = {} end");
    EXPECT_EQ(r.error, "not enough memory\nin gc\n");
    EXPECT_NE(r.stdout.find(" end: in gc\n\n"), std::string::npos) << r.stdout;
    EXPECT_EQ(Run("local t = {} for i = 1, 1000 do t[i] = {} end print(#t)").output, "1000\r\n");
    // Only the chunk that ran out collects everything: garbage of a later chunk stays uncollected.
    Run("collectgarbage('stop') local p = newproxy(true) getmetatable(p).__gc = function() finalized = true end");
    EXPECT_EQ(Run("print(tostring(finalized)) collectgarbage('restart')").output, "nil\r\n");
}

// After running out, the next command runs (the one that frees the memory above all), and the
// garbage the frames make meanwhile does not run the state out again.
TEST_F(ScriptEngine, AfterRunningOutTheNextCommandsRunAndFreeTheMemory)
{
    SetLuaLimits(std::chrono::milliseconds(60000), size_t(48) << 20);
    const std::string error = Run("t = {} for i = 1, 1e9 do t[i] = {i, i, i, i} end").error;
    EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
    for (int frame = 0; frame < 1000; ++frame)
        ASSERT_EQ(Run("local s = {} for i = 1, 1000 do s[i] = {} end").error, "") << frame;
    EXPECT_EQ(Run("t = nil").error, "");
    EXPECT_EQ(Run("collectgarbage() local t = {} for i = 1, 2^18 do t[i] = {i} end print(#t)").output, "262144\r\n");
}

// log(...) writes any values as tostring does, tab-separated, on one line of standard output and
// of the console: a command's in order with what it prints, any other chunk's through the sink.
// More than 100 lines in a second fold into one line with their count, once the second is over.
TEST_F(ScriptEngine, LogWritesAnyValuesOnOneLineAtMostAHundredASecond)
{
    static std::string sunk;
    SetLogSink([](const std::string& line) { sunk += line + "|"; });
    const Result r = Run("tostring = nil log(1, nil, true, 'x', 2.5) log() log(setmetatable({}, {__tostring = function() return 'me' end}))");
    EXPECT_EQ(r.stdout + sunk, "1\tnil\ttrue\tx\t2.5\n\nme\n1\tnil\ttrue\tx\t2.5||me|");
    SetLogSink(nullptr);

    std::string said = Run("for i = 1, 250 do log(i) end").stdout;
    for (int i = 0; i < 3000 && said.find(" more log lines in that second left out ...]\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        said += Run("").stdout;
    }
    // Every line written or counted, at most a hundred before the count.
    const std::string before = said.substr(0, said.find("[... "));
    EXPECT_LE(std::count(before.begin(), before.end(), '\n'), 100);
    long lines = 0, counted = 0;
    for (size_t at = 0; (at = said.find('\n', at)) != std::string::npos; ++at)
        ++lines;
    for (size_t at = 0; (at = said.find("[... ", at)) != std::string::npos; at += 5)
        counted += std::stol(said.substr(at + 5)), --lines;
    EXPECT_EQ(lines + counted, 250);
    EXPECT_GT(counted, 0);
}

}  // namespace
