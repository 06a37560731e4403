#pragma once
// What the GL objects a script makes may take of the GPU, counted by the owner of a view's
// objects (gpu/scriptgpu.h) and held by each object for as long as it lives.

#include <cstddef>

// 512 MiB of textures, targets and buffers in all, for every script object of a view together.
constexpr std::size_t kScriptGpuMemoryLimit = std::size_t(512) << 20;

// A full collection of the script's objects, so that those no longer referenced give their bytes
// back. It only marks objects dead (their owner frees them later) and never raises.
using GpuCollect = void (*)();
// A step of the script's collector as large as that many bytes of its own heap would be: what
// objects hold lies outside the heap, and without it the collector would let thousands of
// dropped ones pile up (with what they hold in memory) before the budget ran a collection.
using GpuStep = void (*)(std::size_t bytes);

class GpuBudget {
public:
    // Takes bytes. When they do not fit, runs collect (if given) once and tries again; false
    // when they still do not fit, and nothing is taken.
    bool Take(std::size_t bytes, GpuCollect collect);
    // Gives back what Take took.
    void Give(std::size_t bytes);
    std::size_t InUse() const { return inUse; }

private:
    bool Fits(std::size_t bytes) const;

    std::size_t inUse = 0;
};
