// Script shader programs through QOpenGLShaderProgram.
#include "gpu/scriptshader.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

#include <cmath>
#include <cstdio>
#include <memory>

#include "gpu/scriptsampler.h"
#include "gpu/shadersource.h"

// Script samplers start at unit 1: a sampler the script never set reads unit 0, which the
// host keeps empty, and so reads black rather than some other texture.
static constexpr int kFirstScriptUnit = 1;
static constexpr int kMatrixValues = 16;
static const char kSpectrum[] = "iSpectrum";

static const char kHostVertexStage[] =
    "#version 330 compatibility\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    gl_FrontColor = gl_Color;\n"
    "    gl_BackColor = gl_Color;\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "}\n";

ScriptShader::ScriptShader(std::string fragmentName, std::string fragmentPath, std::string vertexName,
                           std::string vertexPath)
    : fragmentName(std::move(fragmentName))
    , fragmentPath(std::move(fragmentPath))
    , vertexName(std::move(vertexName))
    , vertexPath(std::move(vertexPath))
{
}

ScriptShader::~ScriptShader()
{
    delete program;
}

unsigned ScriptShader::Program() const
{
    return program ? program->programId() : 0;
}

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

static bool g_compilesHeld = false;

void HoldShaderCompiles(bool held)
{
    g_compilesHeld = held;
}

void ScriptShader::Refresh()
{
    if (changed) {
        changed = false;
        std::string why;
        if (!Load(why)) {
            Fail(why + "\n");
            return;
        }
    }
    if (compileDue && !g_compilesHeld)
        Compile();
}

void ScriptShader::ReportFailure(const std::string& why)
{
    Fail(fragmentName + ": " + why + "\n");
}

void ScriptShader::Fail(std::string message)
{
    error = std::move(message);
    std::fputs(error.c_str(), stdout);
    std::fflush(stdout);
    shared->reports.push_back(GpuReport{fragmentName, error});
}

// Compiles into a new program, which replaces the last good one only once it links.
void ScriptShader::Compile()
{
    compileDue = false;
    std::unique_ptr<QOpenGLShaderProgram> next(new QOpenGLShaderProgram);
    auto* fragment = new QOpenGLShader(QOpenGLShader::Fragment, next.get());
    auto* vertex = new QOpenGLShader(QOpenGLShader::Vertex, next.get());
    std::string message;
    if (!fragment->compileSourceCode(PrepareShaderSource(fragmentText, true).c_str()))
        message += TranslateShaderLog(fragment->log().toStdString(), fragmentName);
    const bool vertexCompiled = vertexPath.empty() ? vertex->compileSourceCode(kHostVertexStage)
                                                   : vertex->compileSourceCode(PrepareShaderSource(vertexText, false).c_str());
    if (!vertexCompiled)
        message += TranslateShaderLog(vertex->log().toStdString(), vertexPath.empty() ? fragmentName : vertexName);
    if (message.empty()) {
        next->addShader(vertex);
        next->addShader(fragment);
        if (!next->link())
            message = TranslateShaderLog(next->log().toStdString(), fragmentName);
    }
    if (!message.empty()) {
        Fail(message);
        return;
    }
    delete program;
    program = next.release();
    active.clear();
    QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
    GLint count = 0;
    gl->glGetProgramiv(program->programId(), GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[256];
        GLint size = 0;
        GLenum type = 0;
        gl->glGetActiveUniform(program->programId(), GLuint(i), sizeof name, nullptr, &size, &type, name);
        std::string key = name;
        if (key.size() > 3 && key.compare(key.size() - 3, 3, "[0]") == 0)
            key.resize(key.size() - 3);
        const int location = program->uniformLocation(name);
        if (location >= 0)
            active[key] = Active{location, type};
    }
    // Told even when this object never failed: the file's line may be an older object's.
    error.clear();
    shared->reports.push_back(GpuReport{fragmentName, error});
}

// A number for an int or bool uniform: not-a-number is 0, and values past the range of int
// stop at its ends, where a plain conversion would be undefined.
static GLint WholeNumber(float value)
{
    if (!(value == value))
        return 0;
    const double limit = 2147483647.0;
    return GLint(std::fmax(-limit, std::fmin(limit, double(value))));
}

// Values of another count than the uniform's type takes are not set: GL would refuse them.
void ScriptShader::Apply(const Active& uniform, const float* v, int count) const
{
    QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
    const int at = uniform.location;
    switch (uniform.type) {
    case GL_FLOAT: if (count == 1) gl->glUniform1f(at, v[0]); break;
    case GL_FLOAT_VEC2: if (count == 2) gl->glUniform2fv(at, 1, v); break;
    case GL_FLOAT_VEC3: if (count == 3) gl->glUniform3fv(at, 1, v); break;
    case GL_FLOAT_VEC4: if (count == 4) gl->glUniform4fv(at, 1, v); break;
    case GL_FLOAT_MAT4: if (count == kMatrixValues) gl->glUniformMatrix4fv(at, 1, GL_FALSE, v); break;
    case GL_INT:
    case GL_BOOL: if (count == 1) gl->glUniform1i(at, WholeNumber(v[0])); break;
    default: break;
    }
}

bool ScriptShader::Use(const ShaderFrameInputs& inputs, int& units)
{
    units = 0;
    if (compileDue && !g_compilesHeld)
        Compile();
    if (!program)
        return false;
    program->bind();
    const struct { const char* name; const float* values; int count; } frameInputs[] = {
        {"iResolution", inputs.resolution, 3}, {"iTime", &inputs.time, 1}, {"iTimeDelta", &inputs.timeDelta, 1},
        {"iFrame", &inputs.frame, 1},          {"iMouse", inputs.mouse, 4},
    };
    for (const auto& input : frameInputs) {
        const auto found = active.find(input.name);
        if (found != active.end())
            Apply(found->second, input.values, input.count);
    }
    // Every texture is asked for before any unit is bound: a texture's first upload, or a
    // target's first framebuffer, binds what it makes on the active unit.
    struct Sampled {
        int location;
        unsigned texture;
    };
    std::vector<Sampled> sampled;
    for (const auto& [name, uniform] : uniforms) {
        const auto found = active.find(name);
        if (found == active.end())
            continue;
        if (!uniform.sampler)
            Apply(found->second, uniform.values.data(), int(uniform.values.size()));
        else if (found->second.type == GL_SAMPLER_2D)
            sampled.push_back({found->second.location, uniform.sampler->SampleTexture()});
    }
    const auto spectrum = active.find(kSpectrum);
    if (inputs.spectrum && spectrum != active.end() && spectrum->second.type == GL_SAMPLER_2D && !uniforms.count(kSpectrum))
        sampled.push_back({spectrum->second.location, inputs.spectrum->SampleTexture()});
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
    delete program;
    program = nullptr;
    active.clear();
    compileDue = true;
}
