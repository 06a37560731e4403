#pragma once
// The owner of every GL object the script draws with in one view's context (the window's, or
// a capture's), and of the script's drawing state there: the target drawn into and the shader
// in use. See gpu/gpuobject.h for the rules its objects live by.
//
// Its life: the view makes it with the view and deletes it, with its context current, before
// the context goes; it frees every object then, and a handle the script still holds reads as
// freed from then on. Each frame starts with BeginFrame, the context current and the host's
// framebuffer bound: dead objects are freed, changed files read again. Between frame starts the
// bindings reach it through the gate (script/gpugate.h), which calls PutBack after each call
// and EndChunk at the end of every chunk.
//
// A new kind of object joins with Make<T>(handle, why, ...): it is adopted at once, before its
// Load can fail, so that a failure leaves an object that dies with its handle. What the script
// draws with besides the target and the shader (a texture for its triangles, say) belongs in
// the drawing state here, set by a call of its own and put back in PutBack.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gpu/gpuobject.h"
#include "gpu/musictexture.h"
#include "gpu/shadermouse.h"

class QOpenGLContext;
class ScriptMesh;
class ScriptSampler;
class ShadertoyImport;
class ScriptShader;
class ScriptTarget;
struct ShaderFrameInputs;

// What the host gives shaders besides the target's size and the frame: the music's time, the
// pointer (pixels from the bottom left) and its left button, and the music's rows.
struct HostInputs {
    double time = 0;
    float pointer[2] = {0, 0};
    bool leftHeld = false;
    MusicRows music;
};

// How a full-screen pass meets what is drawn: by the alpha it writes, or replacing the colour
// (the target's alpha kept). By default a mainImage pass is opaque and a file's own main blends.
enum class PassBlend { Default, Blend, Opaque };

class ScriptGpu {
public:
    // collect makes room in the budget: a full collection of the script's objects; step keeps
    // the collector's pace with the bytes objects take.
    explicit ScriptGpu(GpuCollect collect, GpuStep step = nullptr);
    ~ScriptGpu();
    ScriptGpu(const ScriptGpu&) = delete;
    ScriptGpu& operator=(const ScriptGpu&) = delete;

    // The owner new objects go to and the bindings draw through: the one made last of those
    // alive. Null when there is none.
    static ScriptGpu* Current();

    // Makes an object for the handle, adopts it and loads it (GpuObject::Load); null, with the
    // reason in why, when the load fails. May throw (out of memory) before the object is taken.
    template <typename T, typename... Args>
    T* Make(GpuHandle& handle, std::string& why, Args&&... args)
    {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* made = object.get();
        Adopt(handle, object.release());
        return Loaded(made, why) ? made : nullptr;
    }

    GpuBudget& Budget() { return shared.budget; }
    // The texture shaders sample as iSpectrum.
    MusicTexture& Music() { return music; }
    // The objects alive or waiting to be freed.
    std::size_t Objects() const { return objects.size(); }
    // Every file an object was made from, as it was when first read, in the order first seen.
    const std::vector<SourceFile>& Files() const { return files; }
    // The objects made from the file read it again at the next frame start.
    void MarkFileChanged(const std::string& path);
    // The outcomes of shader compiles since the last call, oldest first.
    std::vector<GpuReport> TakeReports();

    // With the context current and the host's framebuffer bound with its viewport: frees dead
    // objects, notes the framebuffer, the viewport and the context, counts the frame, and has
    // every object read its changed files again. An exception an object throws there is printed
    // as the object's error line.
    void BeginFrame();
    long Frame() const { return shared.frame; }
    // The view's pixel size (the video's in a capture), also before the first frame.
    void SetViewSize(int width, int height);
    int ViewWidth() const { return shared.viewWidth; }
    int ViewHeight() const { return shared.viewHeight; }
    // Whether a context is current that this owner's objects may use.
    bool ContextCurrent() const;

    // The drawing state. Each call below is made through the gate: context current, no shape
    // open, and GL state saved around it.
    void SetHostInputs(const HostInputs& inputs) { host = inputs; }
    // Draws into the target from now on (null: the view); null, or the error text with the
    // view drawn into.
    const char* SetTarget(ScriptTarget* target);
    // The pixel size of what the script draws into now.
    int DrawWidth() const;
    int DrawHeight() const;
    // The shader the following triangles, lines and meshes draw with; null for none.
    void UseShader(ScriptShader* shader);
    ScriptShader* UsedShader() const { return usedShader; }
    // The texture or target the following triangles and meshes are drawn with, modulated by
    // their colour; null for none. A shader in use takes the place of texturing: unit 0 stays
    // empty under it, as its samplers expect.
    void UseTexture(ScriptSampler* sampler) { usedTexture = sampler; }
    // A uniform of the shader changed: the shader in use draws with it at once.
    void UniformChanged(ScriptShader* shader);
    // One pass of the shader over the whole target, depth neither tested nor written.
    void DrawFullscreen(ScriptShader* shader, PassBlend blend = PassBlend::Default);
    // The import's buffers, once a frame, then its image pass over the whole target.
    void DrawFullscreen(ShadertoyImport* import, PassBlend blend = PassBlend::Default);
    void DrawMesh(ScriptMesh* mesh);

    // After every call through the gate: the framebuffer and viewport drawn into, the program
    // in use with its samplers, and unit 0 active, holding the texture in use or empty, as the
    // drawing state says.
    void PutBack();
    // At the end of every chunk: the target is finished, the shader and texture let go, and, where the
    // chunk drew through the gate, the host's own state is back: no program, no texture on the
    // units the script used (unit 0 active), the host's framebuffer and viewport, and the depth
    // writes and blending the world draws with.
    void EndChunk();

private:
    // Takes the object, or deletes it and throws.
    void Adopt(GpuHandle& handle, GpuObject* object);
    // Loads the object and notes the files it read.
    bool Loaded(GpuObject* object, std::string& why);
    // Frees the dead objects; those holding GL names only with the context current.
    void Sweep();
    void Free(GpuObject* object, bool withGl);
    void Inputs(ShaderFrameInputs& inputs);
    bool ApplyShader(ScriptShader* shader);
    void BindDrawTarget();

    GpuShared shared;
    std::vector<GpuObject*> objects;
    std::vector<SourceFile> files;
    MusicTexture music;
    HostInputs host;
    QOpenGLContext* context = nullptr;
    ScriptGpu* previous;
    // The host's framebuffer and viewport, noted at the frame start.
    int hostFramebuffer = 0;
    int hostViewport[4] = {0, 0, 0, 0};
    // The context's texture units, asked once.
    int units = 0;
    // The drawing state, and what the chunk did to GL.
    ScriptTarget* target = nullptr;
    ScriptShader* usedShader = nullptr;
    ScriptSampler* usedTexture = nullptr;
    int unitsUsed = 0;
    bool drew = false;
    // iTimeDelta: the time at the first use of the frame, and the difference to the frame before.
    long timedFrame = -1;
    double frameTime = 0;
    double timeDelta = 0;
    ShaderMouse mouse;
};
