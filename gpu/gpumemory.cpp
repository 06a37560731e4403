// The script GPU memory budget and the queue of GL names freed between frames.
#include "gpu/gpumemory.h"

#include <utility>
#include <vector>

static std::size_t g_inUse = 0;
static std::function<void()> g_collect;
static std::vector<std::function<void()>> g_releases;

static bool Fits(std::size_t bytes)
{
    return bytes <= kScriptGpuMemoryLimit && g_inUse <= kScriptGpuMemoryLimit - bytes;
}

bool ReserveScriptGpuMemory(std::size_t bytes)
{
    if (!Fits(bytes) && g_collect)
        g_collect();
    if (!Fits(bytes))
        return false;
    g_inUse += bytes;
    return true;
}

void ReleaseScriptGpuMemory(std::size_t bytes)
{
    g_inUse = bytes < g_inUse ? g_inUse - bytes : 0;
}

std::size_t ScriptGpuMemoryInUse()
{
    return g_inUse;
}

void SetScriptGpuCollector(std::function<void()> collect)
{
    g_collect = std::move(collect);
}

void DeferGlRelease(std::function<void()> release)
{
    g_releases.push_back(std::move(release));
}

void RunGlReleases()
{
    // A release may not queue another, but take the list first so that one that does is kept
    // for the next frame rather than run on a vector being walked.
    std::vector<std::function<void()>> due;
    due.swap(g_releases);
    for (auto& release : due)
        release();
}

std::size_t PendingGlReleases()
{
    return g_releases.size();
}
