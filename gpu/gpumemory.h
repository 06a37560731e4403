#pragma once
// What the GL objects a script makes may take of the GPU, and the GL names they leave behind.
// A script object's names die with its Lua object, but a Lua collection can run at any
// allocation, with or without the GL context current: the object's finaliser hands its names to
// DeferGlRelease and gives its bytes back at once, and the view frees the names between frames.

#include <cstddef>
#include <functional>

// 512 MiB of textures, targets and buffers in all, for every script object together.
constexpr std::size_t kScriptGpuMemoryLimit = std::size_t(512) << 20;

// Takes bytes from the budget. When they do not fit, runs the collector (a full collection of
// the script's objects, which gives back what dead ones held) once and tries again; false when
// they still do not fit, and nothing is taken.
bool ReserveScriptGpuMemory(std::size_t bytes);
// Gives back what a reservation took.
void ReleaseScriptGpuMemory(std::size_t bytes);
std::size_t ScriptGpuMemoryInUse();
// Set by the script engine; none means a refusal without a collection first.
void SetScriptGpuCollector(std::function<void()> collect);

// Queues the freeing of GL names; safe from a Lua finaliser, with or without a context.
void DeferGlRelease(std::function<void()> release);
// Runs and forgets every queued release. Only with the context the names belong to current,
// between frames (the view and the capture call it before each frame).
void RunGlReleases();
std::size_t PendingGlReleases();
