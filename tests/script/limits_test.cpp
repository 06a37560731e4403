#include <gtest/gtest.h>

#include <string>

#include "script/luaengine.h"

namespace {

class RunawayScripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetLuaLimits(std::chrono::milliseconds(200), size_t(64) << 20);
        InitLua();
    }
    void TearDown() override
    {
        CloseLua();
        SetLuaLimits(std::chrono::milliseconds(10000), size_t(1) << 30);
    }
    static std::string ErrorOf(const std::string& chunk)
    {
        std::string output, error;
        testing::internal::CaptureStdout();
        ExecuteLua(chunk, output, error);
        testing::internal::GetCapturedStdout();
        return error;
    }
    static std::string OutputOf(const std::string& chunk)
    {
        std::string output, error;
        ExecuteLua(chunk, output, error);
        return output + error;
    }
};

const std::string kInterrupted = "script interrupted: ran longer than 10 s\n";

TEST_F(RunawayScripts, AnEndlessLoopIsStoppedAndTheStateGoesOn)
{
    EXPECT_EQ(ErrorOf("x = 1 while true do end"), kInterrupted);
    EXPECT_EQ(OutputOf("print(x)"), "1\r\n");
    EXPECT_EQ(ErrorOf("local n = 0 for i = 1, 1e6 do n = n + i end"), "");
}

TEST_F(RunawayScripts, ALoopThatCatchesTheInterruptionIsStoppedToo)
{
    EXPECT_EQ(ErrorOf("while true do pcall(function() while true do end end) end"), kInterrupted);
    EXPECT_EQ(ErrorOf("while true do pcall(error) end"), kInterrupted);
    EXPECT_EQ(OutputOf("print('alive')"), "alive\r\n");
}

TEST_F(RunawayScripts, ACoroutineThatNeverYieldsIsStopped)
{
    // coroutine.wrap passes the error on with its own position in front.
    const std::string error = ErrorOf("co = coroutine.wrap(function() while true do end end) co()");
    EXPECT_NE(error.find(kInterrupted), std::string::npos) << error;
}

TEST_F(RunawayScripts, ExhaustedMemoryFailsWithLuasMessageAndIsCollected)
{
    // Filling 64 MiB must not be cut short by the time limit on a loaded machine.
    SetLuaLimits(std::chrono::milliseconds(60000), size_t(64) << 20);
    const std::string error = ErrorOf("local t = {} while true do t[#t + 1] = {} end");
    EXPECT_NE(error.find("not enough memory"), std::string::npos) << error;
    EXPECT_EQ(OutputOf("local t = {} for i = 1, 1000 do t[i] = {} end print(#t)"), "1000\r\n");
    // Twice in a row: the state recovers every time.
    EXPECT_NE(ErrorOf("s = string.rep('x', 100 * 1024 * 1024)").find("not enough memory"), std::string::npos);
    EXPECT_EQ(OutputOf("print(s == nil and 'gone')"), "gone\r\n");
}

TEST_F(RunawayScripts, DeepRecursionAndRunawayMetamethodsEndWithLuasError)
{
    EXPECT_NE(ErrorOf("local function f() return 1 + f() end f()").find("stack overflow"), std::string::npos);
    const std::string meta = ErrorOf("t = setmetatable({}, {__index = function(t, k) return t[k] end}) return t.x");
    EXPECT_NE(meta.find("stack overflow"), std::string::npos) << meta;
    EXPECT_EQ(OutputOf("print('still here')"), "still here\r\n");
}

}  // namespace
