#include "script/scriptfailures.h"

#include <algorithm>
#include <cstdio>

#include "script/luaengine.h"

ScriptFailures g_scriptFailures;

// The error as standard output shows it, without the "\n" that ends the text.
static std::string Message(const std::string& error)
{
    return error.empty() || error.back() != '\n' ? error : error.substr(0, error.size() - 1);
}

static void Say(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputs("\n\n", stdout);
    std::fflush(stdout);
}

static void SayRepeatCount(ScriptFailure& failure)
{
    if (failure.repeats == 0)
        return;
    const std::string message = Message(failure.error);
    Say(failure.chunk + ": " + message.substr(0, message.find('\n')) + " (repeated "
        + (failure.repeats == 1 ? std::string("once") : GroupedNumber(failure.repeats) + " times") + ")");
    failure.repeats = 0;
}

void ScriptFailures::Keep(ScriptFailure& failure, const std::string& chunk, const std::string& error)
{
    if (!error.empty() && failure.error.empty())
        failure.since = ++reports;
    failure.chunk = chunk;
    failure.error = error;
    failure.repeats = 0;
}

void ScriptFailures::Run(ScriptFailure& failure, const char* chunk)
{
    std::string output, error;
    ExecuteLua(chunk, output, error);
    Keep(failure, chunk, error);
}

void ScriptFailures::Note(ScriptFailure& failure, const std::string& chunk, const std::string& error)
{
    if (error.empty() && failure.error.empty())
        return;
    if (error == failure.error && chunk == failure.chunk) {
        ++failure.repeats;
        return;
    }
    SayRepeatCount(failure);
    if (!error.empty())
        Say(chunk + ": " + Message(error));
    Keep(failure, chunk, error);
}

void ScriptFailures::Report(const std::string& file, const std::string& error)
{
    if (error.empty())
        shaders.erase(file);
    else
        Keep(shaders[file], file, error);
}

void ScriptFailures::SayRepeats()
{
    SayRepeatCount(update);
    SayRepeatCount(render);
}

std::vector<const ScriptFailure*> ScriptFailures::Standing() const
{
    std::vector<const ScriptFailure*> standing;
    for (const ScriptFailure* failure : {&load, &update, &render})
        if (!failure->error.empty())
            standing.push_back(failure);
    for (const auto& [file, failure] : shaders)
        standing.push_back(&failure);
    std::sort(standing.begin(), standing.end(),
              [](const ScriptFailure* a, const ScriptFailure* b) { return a->since > b->since; });
    return standing;
}

std::string ScriptFailures::ShaderError(const std::string& file) const
{
    const auto found = shaders.find(file);
    return found == shaders.end() ? std::string() : found->second.error;
}
