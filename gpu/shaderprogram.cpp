// Shader programs compiled and linked through GL's own calls.
#include "gpu/shaderprogram.h"

#include <GL/gl.h>

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include <algorithm>
#include <cmath>
#include <vector>

static constexpr int kMatrixValues = 16;
static const char kTransform[] = "quillmereTransform";

static const char kHostVertexStage[] =
    "#version 330 compatibility\n"
    "void main() {\n"
    "    gl_Position = ftransform();\n"
    "    gl_FrontColor = gl_Color;\n"
    "    gl_BackColor = gl_Color;\n"
    "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
    "}\n";

// For an ES fragment file, which links only with an ES vertex stage. In the compatibility
// profile attribute 0 is the position glVertex gives.
static const char kHostEsVertexStage[] =
    "#version 300 es\n"
    "layout(location = 0) in vec4 quillmereVertex;\n"
    "uniform mat4 quillmereTransform;\n"
    "void main() { gl_Position = quillmereTransform * quillmereVertex; }\n";

static QOpenGLExtraFunctions* Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

static std::string InfoLog(GLuint object, bool isProgram)
{
    QOpenGLExtraFunctions* gl = Gl();
    GLint length = 0;
    if (isProgram)
        gl->glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        gl->glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(std::max(length, 1)), '\0');
    if (isProgram)
        gl->glGetProgramInfoLog(object, length, nullptr, &log[0]);
    else
        gl->glGetShaderInfoLog(object, length, nullptr, &log[0]);
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
    return log;
}

// The text as it goes to the compiler, ending in a comment that names the stage. Mesa keys its
// shader cache, on disk and so across runs, by the text alone: a text compiled once for the
// other stage would be taken as compiled, and the link that then compiles it fails on freed
// memory. One file given as both stages is enough for that. The comment goes on the last line,
// so that the compiler's line numbers stay the file's.
static std::string StagedShaderText(const std::string& text, bool fragment)
{
    const size_t end = text.find_last_not_of("\r\n") + 1;
    const bool continued = end > 0 && text[end - 1] == '\\';
    return text.substr(0, end) + (continued ? "\n" : "") + (fragment ? " // fragment stage" : " // vertex stage")
         + text.substr(end);
}

// A compiled shader, or 0 with the compiler's messages translated.
static GLuint Compile(GLenum type, const std::string& text, const std::vector<std::string>& names, std::string& why)
{
    QOpenGLExtraFunctions* gl = Gl();
    const GLuint shader = gl->glCreateShader(type);
    const std::string staged = StagedShaderText(text, type == GL_FRAGMENT_SHADER);
    const char* source = staged.c_str();
    const GLint length = GLint(staged.size());
    gl->glShaderSource(shader, 1, &source, &length);
    gl->glCompileShader(shader);
    GLint compiled = GL_FALSE;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled)
        return shader;
    why += TranslateShaderLog(InfoLog(shader, false), names);
    gl->glDeleteShader(shader);
    return 0;
}

std::string ShaderProgram::Build(const ShaderText& fragment, const ShaderText& vertex, const ShaderText* prefix)
{
    QOpenGLExtraFunctions* gl = Gl();
    std::vector<std::string> names{fragment.name};
    ShaderPrefix common;
    if (prefix) {
        names.push_back(prefix->name);
        common.text = prefix->text;
    }
    ShaderFacts facts;
    std::string why;
    GLuint fragmentStage = Compile(GL_FRAGMENT_SHADER,
                                   PrepareShaderSource(fragment.text, true, ShaderWrap::Decide, &facts, prefix ? &common : nullptr),
                                   names, why);
    // A main the preprocessor may keep: the file without the host's main is the other reading.
    if (!fragmentStage && facts.mainUncertain) {
        std::string again;
        ShaderFacts plain;
        fragmentStage = Compile(GL_FRAGMENT_SHADER,
                                PrepareShaderSource(fragment.text, true, ShaderWrap::Never, &plain, prefix ? &common : nullptr),
                                names, again);
        if (fragmentStage)
            why.clear(), facts = plain;
    }
    const std::string vertexText = !vertex.text.empty() ? PrepareShaderSource(vertex.text, false)
                                 : facts.es             ? kHostEsVertexStage
                                                        : kHostVertexStage;
    const GLuint vertexStage = Compile(GL_VERTEX_SHADER, vertexText, {vertex.text.empty() ? fragment.name : vertex.name}, why);
    GLuint next = 0;
    if (fragmentStage && vertexStage) {
        next = gl->glCreateProgram();
        gl->glAttachShader(next, vertexStage);
        gl->glAttachShader(next, fragmentStage);
        gl->glLinkProgram(next);
        GLint linked = GL_FALSE;
        gl->glGetProgramiv(next, GL_LINK_STATUS, &linked);
        if (!linked) {
            why = TranslateShaderLog(InfoLog(next, true), fragment.name);
            gl->glDeleteProgram(next);
            next = 0;
        }
    }
    gl->glDeleteShader(fragmentStage);
    gl->glDeleteShader(vertexStage);
    if (!next)
        return why.empty() ? fragment.name + ": the program did not link\n" : why;
    Free();
    program = next;
    wrapped = facts.wrapped;
    GLint count = 0;
    gl->glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[256];
        GLint size = 0;
        GLenum type = 0;
        gl->glGetActiveUniform(program, GLuint(i), sizeof name, nullptr, &size, &type, name);
        std::string key = name;
        if (key.size() > 3 && key.compare(key.size() - 3, 3, "[0]") == 0)
            key.resize(key.size() - 3);
        const int location = gl->glGetUniformLocation(program, name);
        if (location >= 0)
            active[key] = Active{location, type, size};
    }
    return "";
}

void ShaderProgram::Bind() const
{
    Gl()->glUseProgram(program);
}

void ShaderProgram::Free()
{
    if (program)
        Gl()->glDeleteProgram(program);
    program = 0;
    active.clear();
}

int ShaderProgram::SamplerLocation(const std::string& name) const
{
    const auto found = active.find(name);
    return found != active.end() && found->second.type == GL_SAMPLER_2D ? found->second.location : -1;
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

// How many floats one element of the type takes; 0 for a type set otherwise.
static int FloatComponents(GLenum type)
{
    switch (type) {
    case GL_FLOAT: return 1;
    case GL_FLOAT_VEC2: return 2;
    case GL_FLOAT_VEC3: return 3;
    case GL_FLOAT_VEC4: return 4;
    case GL_FLOAT_MAT4: return kMatrixValues;
    default: return 0;
    }
}

// Values of another count than the uniform's type takes are not set without fill: GL would
// refuse them.
bool ShaderProgram::Set(const std::string& name, const float* v, int count, bool fill) const
{
    const auto found = active.find(name);
    if (found == active.end())
        return false;
    QOpenGLExtraFunctions* gl = Gl();
    const Active& uniform = found->second;
    const int at = uniform.location;
    if (uniform.type == GL_INT || uniform.type == GL_BOOL) {
        if (count == 1 || (fill && count > 0))
            gl->glUniform1i(at, WholeNumber(v[0]));
        return true;
    }
    const int components = FloatComponents(uniform.type);
    if (!components || (!fill && count != components))
        return true;
    const int elements = fill ? std::max(1, std::min(uniform.size, count / components)) : 1;
    std::vector<float> values(size_t(components * elements), 0.0f);
    std::copy(v, v + std::min(count, int(values.size())), values.begin());
    switch (uniform.type) {
    case GL_FLOAT: gl->glUniform1fv(at, elements, values.data()); break;
    case GL_FLOAT_VEC2: gl->glUniform2fv(at, elements, values.data()); break;
    case GL_FLOAT_VEC3: gl->glUniform3fv(at, elements, values.data()); break;
    case GL_FLOAT_VEC4: gl->glUniform4fv(at, elements, values.data()); break;
    default: gl->glUniformMatrix4fv(at, elements, GL_FALSE, values.data()); break;
    }
    return true;
}

// The projection times the modelview, as ftransform() applies them.
static void FixedTransform(float out[kMatrixValues])
{
    float projection[kMatrixValues], modelview[kMatrixValues];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += projection[k * 4 + row] * modelview[column * 4 + k];
            out[column * 4 + row] = sum;
        }
}

void ShaderProgram::SetFrameInputs(const ShaderFrameInputs& in) const
{
    const struct {
        const char* name;
        const float* values;
        int count;
    } inputs[] = {
        {"iResolution", in.resolution, 3},   {"iTime", &in.time, 1},
        {"iGlobalTime", &in.time, 1},        {"iTimeDelta", &in.timeDelta, 1},
        {"iFrame", &in.frame, 1},            {"iMouse", in.mouse, 4},
        {"iDate", in.date, 4},               {"iChannelTime", in.channelTime, 4},
        {"iChannelResolution", in.channelResolution, 12}, {"iSampleRate", &in.sampleRate, 1},
        {"iFrameRate", &in.frameRate, 1},
    };
    for (const auto& input : inputs)
        Set(input.name, input.values, input.count, true);
    if (active.count(kTransform)) {
        float transform[kMatrixValues];
        FixedTransform(transform);
        Set(kTransform, transform, kMatrixValues, false);
    }
}
