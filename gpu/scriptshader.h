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

#include "gpu/compiledobject.h"
#include "gpu/shaderprogram.h"

class ScriptSampler;

// The largest shader file a script may load.
constexpr long kLargestShaderFile = 1 << 20;

class ScriptShader : public CompiledObject {
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
    unsigned Program() const { return program.Id(); }
    // Whether the last good program is the host's main around the file's mainImage.
    bool Wrapped() const { return program.Wrapped(); }
    void SetUniform(const std::string& name, const float* values, int count);
    // The sampler must live as long as it is set here (the binding keeps it referenced).
    void SetUniformSampler(const std::string& name, ScriptSampler* sampler);
    bool HoldsGl() const override { return program.Id() != 0; }
    void FreeGl() override;

private:
    struct Uniform {
        std::vector<float> values;
        ScriptSampler* sampler = nullptr;
    };
    void Compile() override;

    std::string fragmentName, fragmentPath, vertexName, vertexPath;
    std::string fragmentText, vertexText;
    ShaderProgram program;
    std::map<std::string, Uniform> uniforms;
};
