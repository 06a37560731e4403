#pragma once
// What every GL object a script makes has in common: it lives in a list the host walks between
// frames (to read changed files again, and to free every GL name before the context goes), and
// it may be made from files the host watches.

#include <functional>
#include <string>
#include <vector>

class ScriptResource {
public:
    ScriptResource();
    virtual ~ScriptResource();
    ScriptResource(const ScriptResource&) = delete;
    ScriptResource& operator=(const ScriptResource&) = delete;

    // The absolute paths of the files it was made from.
    virtual std::vector<std::string> Files() const { return {}; }
    // One of its files changed on disk; it is read again at the start of the next frame.
    void MarkChanged() { changed = true; }
    // At the start of a frame, with the context current: reads changed files again, compiles.
    virtual void Refresh() {}
    // The context is about to go: free every GL name now; the object may be used no more.
    virtual void DropGl() = 0;

protected:
    bool changed = false;
};

// Something a shader can sample: a texture, or a target's latest finished picture.
class ScriptSampler {
public:
    virtual ~ScriptSampler() = default;
    // The GL texture name to sample, made on first use (context current); 0 for none.
    virtual unsigned SampleTexture() = 0;
};

// Each file a resource is made from is announced once it is known; the window's watcher listens.
void SetScriptFileHook(std::function<void(const std::string& path)> hook);
void AnnounceScriptFile(const std::string& path);
// Marks the resources made from that file; they read it again at the next frame start.
void MarkScriptFileChanged(const std::string& path);
// Runs Refresh on each resource, with the context current.
void RefreshScriptResources();
// Frees the GL names of every live resource and every queued release: the context is current
// and about to be destroyed.
void DropScriptResourcesGl();
