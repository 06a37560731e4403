// The lifetime and budget rules of script GL objects.
#include "gpu/gpuobject.h"

#include <cstdio>
#include <exception>
#include <new>

void GpuObject::MarkDead()
{
    if (shared)
        shared->budget.Give(held);
    held = 0;
    dead = true;
    if (handle)
        handle->object = nullptr;
    handle = nullptr;
}

bool GpuObject::Hold(std::size_t bytes)
{
    if (bytes > held) {
        const std::size_t more = bytes - held;
        if (!shared->budget.Take(more, shared->collect))
            return false;
        if (shared->step)
            shared->step(more);
        // The collection (the budget's or the step's) may have found this very object
        // unreferenced: it gave back what it held then, and holds nothing from now on.
        if (dead) {
            shared->budget.Give(more);
            return false;
        }
    } else {
        shared->budget.Give(held - bytes);
    }
    held = bytes;
    return true;
}

void GpuObject::ReportFailure(const std::string& why)
{
    std::printf("%s: %s\n", sources.empty() ? "script object" : sources.front().path.c_str(), why.c_str());
    std::fflush(stdout);
}

void DescribeCurrentException(std::string& why) noexcept
{
    const char* text = "an unknown failure";
    try {
        throw;
    } catch (const std::bad_alloc&) {
        text = "out of memory";
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    try {
        why = text;
    } catch (...) {
        why.clear();
    }
}
