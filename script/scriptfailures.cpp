#include "script/scriptfailures.h"

#include "script/luaengine.h"

ScriptFailures g_scriptFailures;

void ScriptFailures::Run(ScriptFailure& failure, const char* chunk)
{
    const bool wasFailing = !failure.error.empty();
    std::string output;
    ExecuteLua(chunk, output, failure.error);
    failure.chunk = chunk;
    ++runs;
    if (!wasFailing)
        failure.since = runs;
}

void ScriptFailures::Report(ScriptFailure& failure, const std::string& chunk, const std::string& error)
{
    const bool wasFailing = !failure.error.empty();
    failure.chunk = chunk;
    failure.error = error;
    ++runs;
    if (!wasFailing)
        failure.since = runs;
}

void ScriptFailures::CountFrame()
{
    failedFrames = update.error.empty() && render.error.empty() ? 0 : failedFrames + 1;
}

const ScriptFailure* ScriptFailures::Latest() const
{
    const ScriptFailure* latest = nullptr;
    for (const ScriptFailure* failure : {&load, &update, &render, &shader})
        if (!failure->error.empty() && (!latest || failure->since > latest->since))
            latest = failure;
    return latest;
}
