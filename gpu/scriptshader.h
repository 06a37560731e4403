#pragma once
// A shader program a script loads from a fragment file and, if it likes, a vertex file. The files
// are read at once (so a missing one is an error where it is loaded) and compiled with the
// context current: at the next frame start, or at first use if that comes sooner. A failed
// compile keeps the last good program and reports its messages under the file's own name and
// lines; a file that changes on disk is read and compiled again at the next frame start.
//
// Uniform values are kept here and set each time the program is used, so that they may be given
// before any GL context exists and survive a recompile. A uniform the program does not have, or
// of another type than the values given, is left alone.

#include <map>
#include <string>
#include <vector>

#include "gpu/gpuobject.h"

class QOpenGLShaderProgram;
class ScriptSampler;

// The largest shader file a script may load.
constexpr long kLargestShaderFile = 1 << 20;

// What the host gives every shader that declares it: iResolution, iTime, iTimeDelta, iFrame,
// iMouse, and the music as iSpectrum.
struct ShaderFrameInputs {
    float resolution[3] = {0, 0, 1};
    float time = 0;
    float timeDelta = 0;
    float frame = 0;
    float mouse[4] = {0, 0, 0, 0};
    ScriptSampler* spectrum = nullptr;
    // The texture units the context has: samplers past them are left unbound.
    int units = 0;
};

class ScriptShader : public GpuObject {
public:
    // Paths as the script gave them (the names shown in messages) and as absolute paths; no
    // vertex file gives the host's vertex stage, which passes position, colour and texture
    // coordinate 0.
    ScriptShader(std::string fragmentName, std::string fragmentPath, std::string vertexName,
                 std::string vertexPath);
    ~ScriptShader() override;

    // Reads the files; false with the reason, which names the file.
    bool Load(std::string& why) override;
    // Binds the program and sets the frame inputs, the stored uniforms and the samplers (on
    // texture units from 1 up, units tells how far). False, with no program bound, while no
    // compile has succeeded.
    bool Use(const ShaderFrameInputs& inputs, int& units);
    // The GL name of the last good program, 0 before the first.
    unsigned Program() const;
    void SetUniform(const std::string& name, const float* values, int count);
    // The sampler must live as long as it is set here (the binding keeps it referenced).
    void SetUniformSampler(const std::string& name, ScriptSampler* sampler);
    // The translated messages of the last compile or read that failed; "" while all is well.
    const std::string& Error() const { return error; }

    void Refresh() override;
    void ReportFailure(const std::string& why) override;
    bool HoldsGl() const override { return program != nullptr; }
    void FreeGl() override;

private:
    struct Uniform {
        std::vector<float> values;
        ScriptSampler* sampler = nullptr;
    };
    struct Active {
        int location = -1;
        unsigned type = 0;
    };
    void Compile();
    void Fail(std::string message);
    void Apply(const Active& uniform, const float* values, int count) const;

    std::string fragmentName, fragmentPath, vertexName, vertexPath;
    std::string fragmentText, vertexText;
    std::string error;
    bool compileDue = true;
    QOpenGLShaderProgram* program = nullptr;
    // The last good program's active uniforms by name ("a[0]" as "a").
    std::map<std::string, Active> active;
    std::map<std::string, Uniform> uniforms;
};

// While held, programs are not compiled: a shader not compiled yet draws nothing, as before its
// first compile. The window holds them until its first frame is shown, which then comes sooner.
void HoldShaderCompiles(bool held);
