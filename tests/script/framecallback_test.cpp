// The frames' callbacks: the version that last worked runs in place of one that fails or was
// stopped, each error is said once and its repeats counted, and what is wrong now is listed.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "script/framecallback.h"
#include "script/luaengine.h"
#include "script/scriptfailures.h"

namespace {

class FrameCallbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitLua();
        Define("function update() end function render() end");
        testing::internal::CaptureStdout();
    }
    void TearDown() override
    {
        // Nothing stands over into the next test: every record mended.
        Define("function update() end function render() end");
        Frames(1);
        testing::internal::GetCapturedStdout();
        for (ScriptFailure* failure : {&g_scriptFailures.load, &g_scriptFailures.update, &g_scriptFailures.render})
            *failure = ScriptFailure();
        CloseLua();
        SetLuaLimits(std::chrono::milliseconds(10000), size_t(1) << 30);
    }
    // A chunk of the script's, as prod.lua or the console would run it.
    static void Define(const std::string& chunk)
    {
        std::string output, error;
        ExecuteLua(chunk, output, error);
        ASSERT_EQ(error, "") << chunk;
    }
    static std::string Global(const char* name)
    {
        std::string output, error;
        ExecuteLua(std::string("print(tostring(") + name + "))", output, error);
        return output.substr(0, output.size() - 2);
    }
    static void Frames(int n)
    {
        for (int i = 0; i < n; ++i)
            g_updateCallback.Run(), g_renderCallback.Run();
    }
    // What standard output got since the last look.
    static std::string Said()
    {
        const std::string said = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        return said;
    }
    static const ScriptFailure& Render() { return g_scriptFailures.render; }
};

TEST_F(FrameCallbacks, TheLastWorkingVersionRunsInPlaceOfAFailingOneUntilTheCodeChanges)
{
    Define("drawn = 0 tries = 0 function render() drawn = 1 end");
    Frames(1);
    Define("function render() tries = tries + 1 drawn = 2 error('pulse is nil', 0) end");
    Frames(5);
    // Tried once, said once; the older version drew on every frame, the first one too.
    EXPECT_EQ(Global("tries") + " " + Global("drawn"), "1 1");
    EXPECT_EQ(Said(), "render(): pulse is nil\n\n");
    EXPECT_EQ(Render().error, "pulse is nil\n");
    EXPECT_EQ(Render().standing, ScriptFailure::Standing::OlderVersionRuns);
    // A console command may have defined what it lacked: it is tried on the next frame, once.
    RetryFrameCallbacks(false);
    Frames(3);
    EXPECT_EQ(Global("tries") + " " + Global("drawn"), "2 1");
    // A load of prod.lua tries it too, and so does a new value of the global, at once.
    RetryFrameCallbacks(true);
    Frames(1);
    EXPECT_EQ(Global("tries"), "3");
    Define("function render() drawn = 3 end");
    Frames(1);
    EXPECT_EQ(Global("drawn"), "3");
    EXPECT_EQ(Said(), "render(): pulse is nil (repeated 2 times)\n\n");
    EXPECT_TRUE(g_scriptFailures.Standing().empty());
}

TEST_F(FrameCallbacks, WithNoOtherVersionAFailingOneRunsEveryFrameAndItsErrorIsSaidOnceWithItsCount)
{
    Define("n = 0 message = 'first' function update() n = n + 1 if n > 1 then error(message, 0) end end");
    Frames(1832);
    EXPECT_EQ(Global("n"), "1832");
    EXPECT_EQ(Said(), "update(): first\n\n");
    EXPECT_EQ(g_scriptFailures.update.standing, ScriptFailure::Standing::Repeating);
    // Another error: the count of the one before, then the new one; then the one repeat.
    Define("message = 'second\\nline'");
    Frames(2);
    EXPECT_EQ(Said(), "update(): first (repeated 1,830 times)\n\nupdate(): second\nline\n\n");
    Define("n = -10");
    Frames(1);
    EXPECT_EQ(Said(), "update(): second (repeated once)\n\n");
    EXPECT_EQ(g_scriptFailures.update.error, "");
    // An error still repeating when the run ends is counted then.
    Define("n = 5");
    Frames(4);
    g_scriptFailures.SayRepeats();
    EXPECT_EQ(Said(), "update(): second\nline\n\nupdate(): second (repeated 3 times)\n\n");
}

TEST_F(FrameCallbacks, AStoppedVersionStaysStoppedUntilALoadOrANewValue)
{
    SetLuaLimits(std::chrono::milliseconds(100), size_t(64) << 20);
    Define("drawn = 0 entered = 0 function render() drawn = 1 end");
    Frames(1);
    Define("runaway = function() entered = entered + 1 while true do end end render = runaway");
    Frames(3);
    EXPECT_EQ(Global("entered") + " " + Global("drawn"), "1 1");
    EXPECT_EQ(Said(), "render(): script interrupted: ran longer than 100 ms\n\n");
    EXPECT_EQ(Render().standing, ScriptFailure::Standing::Stopped);
    // Neither a console command nor the same value given again starts it.
    RetryFrameCallbacks(false);
    Define("render = runaway");
    Frames(2);
    EXPECT_EQ(Global("entered"), "1");
    // A load of prod.lua does.
    RetryFrameCallbacks(true);
    Frames(1);
    EXPECT_EQ(Global("entered"), "2");
    // With no other version that worked, a stopped one leaves nothing to run.
    Define("function render() entered = entered + 1 if entered > 3 then while true do end end end");
    Frames(4);
    EXPECT_EQ(Global("entered"), "4");
    EXPECT_EQ(Render().standing, ScriptFailure::Standing::Stopped);
    Define("function render() drawn = 5 end");
    Frames(1);
    EXPECT_EQ(Global("drawn"), "5");
    EXPECT_TRUE(g_scriptFailures.Standing().empty());
}

// An older version that fails too stands in no more: the newest is called again, every frame.
TEST_F(FrameCallbacks, AnOlderVersionThatFailsTooIsDropped)
{
    Define("broken = false tries = 0 function render() if broken then error('old', 0) end end");
    Frames(1);
    Define("broken = true function render() tries = tries + 1 error('new', 0) end");
    Frames(3);
    EXPECT_EQ(Global("tries"), "3");
    EXPECT_EQ(Render().error, "new\n");
    EXPECT_EQ(Said(), "render(): new\n\nrender(): old\n\nrender(): new\n\n");
}

TEST_F(FrameCallbacks, WhatIsWrongNowIsListedNewestFirstAndEachLineGoesWithItsCause)
{
    const auto chunks = [] {
        std::string listed;
        for (const ScriptFailure* failure : g_scriptFailures.Standing())
            listed += failure->chunk + "|";
        return listed;
    };
    Define("function update() error('u', 0) end");
    Frames(1);
    g_scriptFailures.Report("a.frag", "a.frag:1: error");
    g_scriptFailures.Run(g_scriptFailures.load, "error('l', 0)");
    g_scriptFailures.Report("b.frag", "b.frag:2: error");
    Define("function render() error('r', 0) end");
    Frames(1);
    EXPECT_EQ(chunks(), "render()|b.frag|error('l', 0)|a.frag|update()|");
    // Failing again keeps a line's place.
    g_scriptFailures.Report("a.frag", "a.frag:5: error");
    Define("function update() end");
    g_scriptFailures.Report("b.frag", "");
    Frames(1);
    EXPECT_EQ(chunks(), "render()|error('l', 0)|a.frag|");
    EXPECT_EQ(g_scriptFailures.ShaderError("a.frag"), "a.frag:5: error");
    g_scriptFailures.Run(g_scriptFailures.load, "");
    g_scriptFailures.Report("a.frag", "");
    EXPECT_EQ(chunks(), "render()|");
}

}  // namespace
