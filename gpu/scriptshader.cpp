// Script shader programs through QOpenGLShaderProgram.
#include "gpu/scriptshader.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <memory>

#include "gpu/scriptsampler.h"

// Script samplers start at unit 1: a sampler the script never set reads unit 0, which the
// host keeps empty, and so reads black rather than some other texture.
static constexpr int kFirstScriptUnit = 1;
static const char kSpectrum[] = "iSpectrum";

ScriptShader::ScriptShader(std::string fragmentName, std::string fragmentPath, std::string vertexName,
                           std::string vertexPath)
    : CompiledObject(fragmentName)
    , fragmentName(std::move(fragmentName))
    , fragmentPath(std::move(fragmentPath))
    , vertexName(std::move(vertexName))
    , vertexPath(std::move(vertexPath))
{
}

ScriptShader::~ScriptShader() = default;

bool ScriptShader::Load(std::string& why)
{
    const char* const tooLarge = "a shader file of at most 1 MiB, got a larger one";
    std::vector<SourceFile> read(vertexPath.empty() ? 1 : 2);
    read[0].path = fragmentPath;
    std::string reason;
    if (!ReadSourceFile(fragmentPath, kLargestShaderFile, tooLarge, fragmentText, read[0].stamp, reason)) {
        why = fragmentName + ": " + reason;
        return false;
    }
    if (!vertexPath.empty()) {
        read[1].path = vertexPath;
        if (!ReadSourceFile(vertexPath, kLargestShaderFile, tooLarge, vertexText, read[1].stamp, reason)) {
            why = vertexName + ": " + reason;
            return false;
        }
    }
    sources = std::move(read);
    compileDue = true;
    return true;
}

// A failed compile keeps the last good program.
void ScriptShader::Compile()
{
    compileDue = false;
    const std::string message = program.Build(ShaderText{fragmentText, fragmentName}, ShaderText{vertexText, vertexName});
    if (!message.empty()) {
        Fail(message);
        return;
    }
    Succeeded();
}

bool ScriptShader::Use(const ShaderFrameInputs& inputs, int& units)
{
    units = 0;
    CompileIfDue();
    if (!program.Id())
        return false;
    program.Bind();
    ShaderFrameInputs withChannels = inputs;
    for (int c = 0; c < 4; ++c) {
        const auto channel = uniforms.find("iChannel" + std::to_string(c));
        if (channel != uniforms.end() && channel->second.sampler) {
            withChannels.channelResolution[3 * c] = float(channel->second.sampler->Width());
            withChannels.channelResolution[3 * c + 1] = float(channel->second.sampler->Height());
            withChannels.channelResolution[3 * c + 2] = 1;
        }
    }
    program.SetFrameInputs(withChannels);
    // Every texture is asked for before any unit is bound: a texture's first upload, or a
    // target's first framebuffer, binds what it makes on the active unit.
    struct Sampled {
        int location;
        unsigned texture;
    };
    std::vector<Sampled> sampled;
    for (const auto& [name, uniform] : uniforms) {
        if (!uniform.sampler)
            program.Set(name, uniform.values.data(), int(uniform.values.size()), false);
        else if (program.SamplerLocation(name) >= 0)
            sampled.push_back({program.SamplerLocation(name), uniform.sampler->SampleTexture()});
    }
    const int spectrum = program.SamplerLocation(kSpectrum);
    if (inputs.spectrum && spectrum >= 0 && !uniforms.count(kSpectrum))
        sampled.push_back({spectrum, inputs.spectrum->SampleTexture()});
    QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
    int unit = kFirstScriptUnit;
    for (const Sampled& s : sampled) {
        // Past the context's units a sampler reads unit 0, which is empty: black.
        if (unit >= inputs.units) {
            gl->glUniform1i(s.location, 0);
            continue;
        }
        gl->glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, s.texture);
        gl->glUniform1i(s.location, unit++);
    }
    gl->glActiveTexture(GL_TEXTURE0);
    units = unit;
    return true;
}

void ScriptShader::SetUniform(const std::string& name, const float* values, int count)
{
    uniforms[name] = Uniform{std::vector<float>(values, values + count), nullptr};
}

void ScriptShader::SetUniformSampler(const std::string& name, ScriptSampler* sampler)
{
    uniforms[name] = Uniform{{}, sampler};
}

void ScriptShader::FreeGl()
{
    program.Free();
    compileDue = true;
}
