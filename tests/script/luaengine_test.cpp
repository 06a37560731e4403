#include <gtest/gtest.h>

#include <cmath>
#include <string>

extern "C" {
#include <lua.h>
}

#include "script/luaengine.h"

namespace {

struct Result {
    std::string output, error;
};

class ScriptEngine : public ::testing::Test {
protected:
    void SetUp() override { InitLua(); }
    void TearDown() override { CloseLua(); }

    static Result Run(const std::string& chunk)
    {
        Result r;
        ExecuteLua(chunk, r.output, r.error);
        return r;
    }

    // Runs a chunk and returns what it printed, with stdout captured.
    static std::string StdoutOf(const std::string& chunk)
    {
        testing::internal::CaptureStdout();
        Run(chunk);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(ScriptEngine, PrintWritesEachArgumentAsALineEndingInCrLf)
{
    EXPECT_EQ(Run("print(1, nil, 'x')").output, "1\r\nNot a string\r\nx\r\n");
    EXPECT_EQ(Run("print({}, true, print, 2.5)").output,
              "Not a string\r\nNot a string\r\nNot a string\r\n2.5\r\n");
    EXPECT_EQ(Run("print()").output, "");
    EXPECT_EQ(Run("print('a') print('b')").output, "a\r\nb\r\n");
}

TEST_F(ScriptEngine, OutputBelongsToTheLatestChunkOnly)
{
    Run("print('first')");
    EXPECT_EQ(Run("x = 1").output, "");
}

TEST_F(ScriptEngine, FooReturnsAverageThenSum)
{
    EXPECT_EQ(Run("print(foo(1, 2, 3))").output, "2\r\n6\r\n");
    EXPECT_EQ(Run("print(foo('4'))").output, "4\r\n4\r\n");
    Run("a, b = foo()");
    EXPECT_EQ(Run("print(a ~= a, b)").output, "Not a string\r\n0\r\n");  // NaN average, sum 0
    EXPECT_EQ(Run("print(a ~= a and 'nan')").output, "nan\r\n");
}

TEST_F(ScriptEngine, FooRejectsANonNumericArgumentWithoutPosition)
{
    const Result r = Run("foo(1, 'a')");
    EXPECT_EQ(r.error, "incorrect argument\n");
}

TEST_F(ScriptEngine, ErrorsGoToStandardOutputAsChunkColonMessageAndAnEmptyLine)
{
    EXPECT_EQ(StdoutOf("foo(1, 'a')"), "foo(1, 'a'): incorrect argument\n\n");
    const std::string syntax = StdoutOf("x = = 1");
    EXPECT_EQ(syntax.rfind("x = = 1: [string \"x = = 1\"]:1:", 0), 0u) << syntax;
    EXPECT_EQ(syntax.substr(syntax.size() - 2), "\n\n");
    EXPECT_EQ(StdoutOf("print('quiet')"), "");
}

TEST_F(ScriptEngine, PrintedTextComesBeforeTheErrorOfTheSameChunk)
{
    const Result r = Run("print('before') error('boom', 0)");
    EXPECT_EQ(r.output, "before\r\n");
    EXPECT_EQ(r.error, "boom\n");
}

TEST_F(ScriptEngine, StateSurvivesAFailingChunk)
{
    Run("kept = 41 function f() return kept + 1 end error('late')");
    EXPECT_EQ(Run("print(f())").output, "42\r\n");
    EXPECT_EQ(Run("").error, "");
}

TEST_F(ScriptEngine, ReturnedValuesDoNotPileUpOnTheStack)
{
    const int top = lua_gettop(g_luaState);
    for (int i = 0; i < 10000; ++i)
        Run("return 1, 2, 3");
    for (int i = 0; i < 100; ++i)
        Run("error('x')");
    EXPECT_EQ(lua_gettop(g_luaState), top);
}

TEST_F(ScriptEngine, NonStringErrorValuesGetAPlaceholder)
{
    const std::string placeholder = "(error object is not a string)\n";
    EXPECT_EQ(Run("error()").error, placeholder);
    EXPECT_EQ(Run("error({})").error, placeholder);
    EXPECT_EQ(Run("error(setmetatable({}, {__tostring = function() return 't' end}))").error, placeholder);
    EXPECT_EQ(StdoutOf("error({})"), "error({}): " + placeholder + "\n");
    EXPECT_EQ(Run("error(7, 0)").error, "7\n");
}

TEST_F(ScriptEngine, LargeOutputIsKeptWhole)
{
    const std::string out = Run("for i = 1, 10000 do print(i) end").output;
    std::string expected;
    for (int i = 1; i <= 10000; ++i)
        expected += std::to_string(i) + "\r\n";
    EXPECT_EQ(out, expected);
    testing::internal::CaptureStdout();
    const std::string longError = Run("error(string.rep('e', 5000), 0)").error;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(longError, std::string(5000, 'e') + "\n");
}

TEST_F(ScriptEngine, RunawayOutputIsCutWithAVisibleLine)
{
    const std::string out = Run("local s = string.rep('z', 1000) for i = 1, 5000 do print(s) end").output;
    EXPECT_LE(out.size(), size_t(1 << 20) + 100);
    EXPECT_GT(out.size(), size_t(1 << 20) - 2000);
    EXPECT_NE(out.find("truncated"), std::string::npos);
    EXPECT_EQ(Run("print('next')").output, "next\r\n");
}

TEST_F(ScriptEngine, RunLuaStringDiscardsOutputButReportsErrors)
{
    testing::internal::CaptureStdout();
    RunLuaString("print('hidden') shared = 5");
    RunLuaString("nosuch()");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("hidden"), std::string::npos);
    EXPECT_EQ(out.rfind("nosuch(): ", 0), 0u) << out;
    EXPECT_EQ(Run("print(shared)").output, "5\r\n");
}

}  // namespace
