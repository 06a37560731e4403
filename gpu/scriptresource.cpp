// The list of live script GL objects and the files they were made from.
#include "gpu/scriptresource.h"

#include <algorithm>

#include "gpu/gpumemory.h"

static std::vector<ScriptResource*> g_resources;
static std::function<void(const std::string&)> g_fileHook;

ScriptResource::ScriptResource()
{
    g_resources.push_back(this);
}

ScriptResource::~ScriptResource()
{
    g_resources.erase(std::find(g_resources.begin(), g_resources.end(), this));
}

void SetScriptFileHook(std::function<void(const std::string&)> hook)
{
    g_fileHook = std::move(hook);
}

void AnnounceScriptFile(const std::string& path)
{
    if (g_fileHook)
        g_fileHook(path);
}

void MarkScriptFileChanged(const std::string& path)
{
    for (ScriptResource* resource : g_resources) {
        const std::vector<std::string> files = resource->Files();
        if (std::find(files.begin(), files.end(), path) != files.end())
            resource->MarkChanged();
    }
}

void RefreshScriptResources()
{
    // A refresh makes no resource and drops none, so the list stays as it is meanwhile.
    for (ScriptResource* resource : g_resources)
        resource->Refresh();
}

void DropScriptResourcesGl()
{
    RunGlReleases();
    for (ScriptResource* resource : g_resources)
        resource->DropGl();
}
