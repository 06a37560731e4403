#pragma once
// What every GL object a script makes has in common, and the two rules they all live by.
//
// Shaders, textures, targets and meshes (and any kind added later) are made by a binding and
// adopted at once by the ScriptGpu of the view they are drawn in (gpu/scriptgpu.h), which owns
// them from then on. The script holds an object through a GpuHandle inside a Lua userdata.
//
// 1. Only the owner destroys an object. The handle's finaliser calls MarkDead, which gives the
//    object's budget bytes back and nothing more: a finaliser may run inside any collection,
//    also the one the budget runs to make room, in the middle of the owner's own walk of its
//    objects, with or without a GL context. The owner frees dead objects, GL names and all, at
//    its next frame start with its context current; also as it adopts a new object, but then
//    those holding GL names only if the context is current.
// 2. An object makes GL calls only when its owner calls it: with the context current and no
//    shape open (bindings get there through the gate, script/gpugate.h). It may leave bindings,
//    enables and matrices changed; the gate puts them back, so objects save nothing themselves.
//
// A new kind of object derives from GpuObject, says in HoldsGl whether it holds GL names and
// frees them in FreeGl, reads its files and takes its budget bytes (through Hold) in Load, lists
// the files it read in sources, and is made with ScriptGpu::Make.

#include <cstddef>
#include <string>
#include <vector>

#include "gpu/gpubudget.h"
#include "gpu/sourcefile.h"

class GpuObject;

// What the script's userdata holds. The object is null until it is made, and after the owner
// freed it (the owner went first); the finaliser then has nothing to mark.
struct GpuHandle {
    GpuObject* object;
};

// A shader's compile as the script's error display needs it: the file's name and the error
// text, "" for a compile that worked.
struct GpuReport {
    std::string name;
    std::string error;
};

// What the owner lends all its objects: its budget, how to make room in it, the frame, and
// where to leave reports for the script's error display.
struct GpuShared {
    GpuBudget budget;
    GpuCollect collect = nullptr;
    GpuStep step = nullptr;
    long frame = 0;  // 1 from the first frame start on
    int viewWidth = 0;
    int viewHeight = 0;
    std::vector<GpuReport> reports;
};

class GpuObject {
public:
    GpuObject() = default;
    // Frees what the object holds in memory; FreeGl has run before when it held GL names.
    virtual ~GpuObject() = default;
    GpuObject(const GpuObject&) = delete;
    GpuObject& operator=(const GpuObject&) = delete;

    // The script let go of it (its handle's finaliser): the budget bytes go back now, the
    // object and its names at the owner's next frame start.
    void MarkDead();
    bool Dead() const { return dead; }

    // The files it was made from, as they were when it read them.
    const std::vector<SourceFile>& Sources() const { return sources; }
    // One of its files changed on disk: it is read again at the next frame start.
    void MarkChanged() { changed = true; }

    // What making it takes besides its constructor (reading its files, taking its bytes from
    // the budget), once adopted; false with the reason.
    virtual bool Load(std::string& why) = 0;
    // At each frame start while alive, with the context current: reads changed files again.
    virtual void Refresh() {}
    // An exception thrown at the frame start: printed under the name of its first file.
    virtual void ReportFailure(const std::string& why);
    virtual bool HoldsGl() const = 0;
    // With the context the names were made in current. The object may be used again after it:
    // it makes its names anew.
    virtual void FreeGl() = 0;

protected:
    // From now on the object holds bytes of the budget in place of what it held; when the
    // difference does not fit even after a collection, false, and it holds what it did.
    bool Hold(std::size_t bytes);
    std::size_t Held() const { return held; }

    GpuShared* shared = nullptr;  // set by the owner as it adopts the object
    std::vector<SourceFile> sources;
    bool changed = false;

private:
    friend class ScriptGpu;
    GpuHandle* handle = nullptr;
    std::size_t held = 0;
    bool dead = false;
};

// Inside a catch block: the exception's text, for the one place that turns the GPU code's
// exceptions into an error line. Never throws.
void DescribeCurrentException(std::string& why) noexcept;

// Runs call(), which returns false with the reason in why for a failure it expected; a C++
// exception it throws is one more failure, with its text.
template <typename Call>
bool Guarded(Call&& call, std::string& why) noexcept
{
    try {
        return call();
    } catch (...) {
        DescribeCurrentException(why);
        return false;
    }
}
