// Objects compiled from files: reading again, compiling when due, reporting.
#include "gpu/compiledobject.h"

#include <cstdio>

static bool g_compilesHeld = false;

void HoldShaderCompiles(bool held)
{
    g_compilesHeld = held;
}

void CompiledObject::CompileIfDue()
{
    if (compileDue && !g_compilesHeld)
        Compile();
}

void CompiledObject::Refresh()
{
    if (changed) {
        changed = false;
        std::string why;
        if (!Load(why)) {
            Fail(why + "\n");
            return;
        }
    }
    CompileIfDue();
}

void CompiledObject::ReportFailure(const std::string& why)
{
    Fail(reportName + ": " + why + "\n");
}

void CompiledObject::Fail(std::string message)
{
    error = std::move(message);
    std::fputs(error.c_str(), stdout);
    std::fflush(stdout);
    shared->reports.push_back(GpuReport{reportName, error});
}

void CompiledObject::Succeeded()
{
    error.clear();
    shared->reports.push_back(GpuReport{reportName, error});
}
