// Script shader programs through QOpenGLShaderProgram.
#include "gpu/scriptshader.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gpu/gpumemory.h"
#include "gpu/scriptframe.h"
#include "gpu/shadersource.h"

static std::function<void(const std::string&, const std::string&)> g_errorHook;
static std::map<std::string, std::function<unsigned()>> g_hostTextures;

// Script samplers start at unit 1: a sampler the script never set reads unit 0, which the
// host keeps empty, and so reads black rather than some other texture.
static constexpr int kFirstScriptUnit = 1;
static constexpr int kMatrixValues = 16;

static const char kHostVertexStage[] =
    "#version 330 compatibility\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    gl_FrontColor = gl_Color;\n"
    "    gl_BackColor = gl_Color;\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "}\n";

void SetShaderErrorHook(std::function<void(const std::string&, const std::string&)> hook)
{
    g_errorHook = std::move(hook);
}

void SetHostShaderTexture(const std::string& uniform, std::function<unsigned()> texture)
{
    if (texture)
        g_hostTextures[uniform] = std::move(texture);
    else
        g_hostTextures.erase(uniform);
}

bool ReadShaderFile(const std::string& path, std::string& text, std::string& why)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        why = std::strerror(errno);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, n);
        if (text.size() > size_t(kLargestShaderFile))
            break;
    }
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed) {
        why = "it cannot be read";
        return false;
    }
    if (text.size() > size_t(kLargestShaderFile)) {
        why = "a shader file of at most 1 MiB, got a larger one";
        return false;
    }
    return true;
}

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
    if (QOpenGLShaderProgram* p = program)
        DeferGlRelease([p] { delete p; });
}

std::vector<std::string> ScriptShader::Files() const
{
    if (vertexPath.empty())
        return {fragmentPath};
    return {fragmentPath, vertexPath};
}

bool ScriptShader::Read(std::string& why)
{
    std::string reason;
    if (!ReadShaderFile(fragmentPath, fragmentText, reason)) {
        why = fragmentName + ": " + reason;
        return false;
    }
    if (!vertexPath.empty() && !ReadShaderFile(vertexPath, vertexText, reason)) {
        why = vertexName + ": " + reason;
        return false;
    }
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
        if (!Read(why)) {
            Fail(why + "\n");
            return;
        }
    }
    if (compileDue && !g_compilesHeld)
        Compile();
}

void ScriptShader::Fail(std::string message)
{
    error = std::move(message);
    std::fputs(error.c_str(), stdout);
    std::fflush(stdout);
    if (g_errorHook)
        g_errorHook(fragmentName, error);
}

// Compiles into a new program, which replaces the last good one only once it links.
void ScriptShader::Compile()
{
    compileDue = false;
    auto* next = new QOpenGLShaderProgram;
    auto* fragment = new QOpenGLShader(QOpenGLShader::Fragment, next);
    auto* vertex = new QOpenGLShader(QOpenGLShader::Vertex, next);
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
        delete next;
        Fail(message);
        return;
    }
    delete program;
    program = next;
    active.clear();
    QOpenGLFunctions* gl = ScriptGl();
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
    if (g_errorHook)
        g_errorHook(fragmentName, error);
}

// Values of another count than the uniform's type takes are not set: GL would refuse them.
void ScriptShader::Apply(const Active& uniform, const float* v, int count) const
{
    QOpenGLFunctions* gl = ScriptGl();
    const int at = uniform.location;
    switch (uniform.type) {
    case GL_FLOAT: if (count == 1) gl->glUniform1f(at, v[0]); break;
    case GL_FLOAT_VEC2: if (count == 2) gl->glUniform2fv(at, 1, v); break;
    case GL_FLOAT_VEC3: if (count == 3) gl->glUniform3fv(at, 1, v); break;
    case GL_FLOAT_VEC4: if (count == 4) gl->glUniform4fv(at, 1, v); break;
    case GL_FLOAT_MAT4: if (count == kMatrixValues) gl->glUniformMatrix4fv(at, 1, GL_FALSE, v); break;
    case GL_INT:
    case GL_BOOL: if (count == 1) gl->glUniform1i(at, GLint(v[0])); break;
    default: break;
    }
}

bool ScriptShader::Use(const ShaderFrameInputs& inputs)
{
    if (compileDue && !g_compilesHeld)
        Compile();
    if (!program)
        return false;
    program->bind();
    NoteScriptGlState();
    const struct { const char* name; const float* values; int count; } frameInputs[] = {
        {"iResolution", inputs.resolution, 3}, {"iTime", &inputs.time, 1}, {"iTimeDelta", &inputs.timeDelta, 1},
        {"iFrame", &inputs.frame, 1},          {"iMouse", inputs.mouse, 4},
    };
    for (const auto& input : frameInputs) {
        const auto found = active.find(input.name);
        if (found != active.end())
            Apply(found->second, input.values, input.count);
    }
    QOpenGLFunctions* gl = ScriptGl();
    int unit = kFirstScriptUnit;
    const auto bindSampler = [&](const Active& a, unsigned name) {
        gl->glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, name);
        gl->glUniform1i(a.location, unit++);
    };
    for (const auto& [name, uniform] : uniforms) {
        const auto found = active.find(name);
        if (found == active.end())
            continue;
        if (!uniform.sampler)
            Apply(found->second, uniform.values.data(), int(uniform.values.size()));
        else if (found->second.type == GL_SAMPLER_2D)
            bindSampler(found->second, uniform.sampler->SampleTexture());
    }
    for (const auto& [name, texture] : g_hostTextures) {
        const auto found = active.find(name);
        if (found != active.end() && found->second.type == GL_SAMPLER_2D && !uniforms.count(name))
            bindSampler(found->second, texture());
    }
    NoteScriptTextureUnits(unit);
    gl->glActiveTexture(GL_TEXTURE0);
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

void ScriptShader::DropGl()
{
    delete program;
    program = nullptr;
    active.clear();
}
