#pragma once
// What is wrong now with the chunks the host runs on its own: prod.lua at start-up and on each
// save, update() and render() on every frame, and the compile of each shader file. The view's
// status strip lists them. A failing callback's error is said on standard output once; while the
// same error repeats it is counted, and the count is said when the error changes or goes.

#include <map>
#include <string>
#include <vector>

struct ScriptFailure {
    // What stands in the callback's place while its error stands.
    enum class Standing { Repeating, OlderVersionRuns, Stopped };

    std::string chunk;
    // The error text of the latest run: "" when it worked.
    std::string error;
    // When the error began to stand, in ScriptFailures' count of reports; newer is larger.
    long since = 0;
    // How many times the standing error was raised again after it was said.
    long repeats = 0;
    Standing standing = Standing::Repeating;
};

class ScriptFailures {
public:
    // Runs the chunk as RunLuaString does, so standard output gets the same lines, and keeps its
    // error in failure.
    void Run(ScriptFailure& failure, const char* chunk);
    // The end of a callback's run, error "" when it worked: a new error is said, a repeated one
    // counted, and the count said once the error changes or goes.
    void Note(ScriptFailure& failure, const std::string& chunk, const std::string& error);
    // A shader file's compile: its line stands until a compile of the same file works.
    void Report(const std::string& file, const std::string& error);
    // Says the counts of errors still repeating, as at the end of a run.
    void SayRepeats();

    // What is wrong now, the newest first.
    std::vector<const ScriptFailure*> Standing() const;
    // The error of that shader file's latest compile: "" when it worked or was never compiled.
    std::string ShaderError(const std::string& file) const;

    ScriptFailure load;
    ScriptFailure update;
    ScriptFailure render;

private:
    void Keep(ScriptFailure& failure, const std::string& chunk, const std::string& error);

    std::map<std::string, ScriptFailure> shaders;
    long reports = 0;
};

extern ScriptFailures g_scriptFailures;
