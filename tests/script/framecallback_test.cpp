// The frames' callbacks: the version that last worked runs in place of one that fails or was
// stopped, and each error is said once, its repeats counted.
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
        Run("function update() end function render() end");
        testing::internal::CaptureStdout();
    }
    void TearDown() override
    {
        Run("function update() end function render() end");
        Frames(1);
        testing::internal::GetCapturedStdout();
        CloseLua();
        SetLuaLimits(std::chrono::milliseconds(10000), size_t(1) << 30);
    }
    // A chunk of the script's, as prod.lua or the console would run it; gives what it prints.
    static std::string Run(const std::string& chunk)
    {
        std::string output, error;
        ExecuteLua(chunk, output, error);
        return output + error;
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
};

TEST_F(FrameCallbacks, TheLastWorkingVersionRunsInPlaceOfAFailingOneUntilTheCodeChanges)
{
    Run("tries = 0 function render() drawn = 1 end");
    Frames(1);
    Run("function render() tries = tries + 1 drawn = 2 error('pulse is nil', 0) end");
    Frames(5);
    // Tried once, said once; the older version drew on every frame, the first one too.
    EXPECT_EQ(Run("print(tries, drawn)") + Said(), "1\r\n1\r\nrender(): pulse is nil\n\n");
    EXPECT_EQ(g_scriptFailures.render.standing, ScriptFailure::Standing::OlderVersionRuns);
    // After a console command or a load it is tried again, once; a new version at once.
    RetryFrameCallbacks(false);
    Frames(3);
    RetryFrameCallbacks(true);
    Frames(1);
    EXPECT_EQ(Run("print(tries) function render() drawn = 3 end"), "3\r\n");
    Frames(1);
    EXPECT_EQ(Run("print(drawn)") + Said(), "3\r\nrender(): pulse is nil (repeated 2 times)\n\n");
    EXPECT_TRUE(g_scriptFailures.Standing().empty());

    // An older version that fails too stands in no more.
    Run("function render() if broken then error('old', 0) end end");
    Frames(1);
    Run("broken = true function render() error('new', 0) end");
    Frames(3);
    EXPECT_EQ(Said(), "render(): new\n\nrender(): old\n\nrender(): new\n\n");
}

TEST_F(FrameCallbacks, WithNoOtherVersionAFailingOneRunsEveryFrameAndItsErrorIsSaidOnceWithItsCount)
{
    Run("n = 0 message = 'first' function update() n = n + 1 if n > 1 then error(message, 0) end end");
    Frames(1832);
    Run("message = 'second\\nline'");
    Frames(2);
    Run("n = -10");
    Frames(1);
    EXPECT_EQ(Run("print(n)") + Said(), "-9\r\nupdate(): first\n\nupdate(): first (repeated 1,830 times)\n\n"
                                        "update(): second\nline\n\nupdate(): second (repeated once)\n\n");
    // An error still repeating when the run ends is counted then.
    Run("n = 5");
    Frames(4);
    g_scriptFailures.SayRepeats();
    EXPECT_EQ(Said(), "update(): second\nline\n\nupdate(): second (repeated 3 times)\n\n");
}

TEST_F(FrameCallbacks, AStoppedVersionStaysStoppedUntilALoadOrANewValue)
{
    SetLuaLimits(std::chrono::milliseconds(100), size_t(64) << 20);
    Run("entered = 0 function render() drawn = 1 end");
    Frames(1);
    Run("runaway = function() entered = entered + 1 while true do end end render = runaway");
    Frames(3);
    // Neither a console command nor the same value given again starts it; a load does.
    RetryFrameCallbacks(false);
    Run("render = runaway");
    Frames(2);
    EXPECT_EQ(Run("print(entered, drawn)") + Said(), "1\r\n1\r\nrender(): script interrupted: ran longer than 100 ms\n\n");
    EXPECT_EQ(g_scriptFailures.render.standing, ScriptFailure::Standing::Stopped);
    RetryFrameCallbacks(true);
    Frames(1);
    // With no other version that worked, a stopped one leaves nothing to run.
    Run("function render() entered = entered + 1 if entered > 3 then while true do end end end");
    Frames(4);
    EXPECT_EQ(Run("print(entered)"), "4\r\n");
    Run("function render() drawn = 5 end");
    Frames(1);
    EXPECT_EQ(Run("print(drawn)"), "5\r\n");
    EXPECT_TRUE(g_scriptFailures.Standing().empty());
}

}  // namespace
