#pragma once
// The latest failures of the chunks the host runs on its own: update() and render() on every
// frame, prod.lua at start-up and on each save, and the compiles of shader files. The view's status strip shows them.

#include <string>

struct ScriptFailure {
    std::string chunk;
    // ExecuteLua's error text of the latest run: "" when it worked.
    std::string error;
    // The run that began the present run of failures, in ScriptFailures' count of runs.
    long since = 0;
};

class ScriptFailures {
public:
    // Runs the chunk as RunLuaString does, so standard output gets the same lines, and keeps its
    // error in failure.
    void Run(ScriptFailure& failure, const char* chunk);
    // Keeps what something else than a chunk reported: "" for an error clears it.
    void Report(ScriptFailure& failure, const std::string& chunk, const std::string& error);
    // After each render(): one more failed frame in a row, or the end of the row.
    void CountFrame();
    // The failure whose run of failures began last; null while every latest run worked.
    const ScriptFailure* Latest() const;

    ScriptFailure load;
    ScriptFailure update;
    ScriptFailure render;
    // A shader file's compile: chunk is the file's name, error its translated messages.
    ScriptFailure shader;
    // Frames in a row whose update() or render() failed.
    int failedFrames = 0;

private:
    long runs = 0;
};

extern ScriptFailures g_scriptFailures;
