// Multipass shaders read from Shadertoy's JSON export.
#include "gpu/shadertoyimport.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstring>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include "gpu/scripttexture.h"

#ifndef GL_RGBA16F
#define GL_RGBA16F 0x881A
#endif
#ifndef GL_HALF_FLOAT
#define GL_HALF_FLOAT 0x140B
#endif

// The passes' channels sit on units 1 to 4: unit 0 stays the host's, empty.
static constexpr int kFirstUnit = 1;
static constexpr int kChannels = 4;
// Half-float RGBA, two pictures a buffer.
static constexpr std::size_t kBufferBytesPerPixel = 2 * 8;
static const char kUsedUp[] = "the script's GPU memory (512 MiB) is used up";
static const char kCommonName[] = "Common";

static QOpenGLExtraFunctions* Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

// A field the export writes as a string, a number or a boolean, as text.
static std::string Text(const QJsonValue& value)
{
    if (value.isBool())
        return value.toBool() ? "true" : "false";
    if (value.isDouble())
        return std::to_string(value.toInteger());
    return value.toString().toStdString();
}

// A value as an error names it: what the export has in place of a number, or none.
static std::string Shown(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(value.toDouble()).toStdString();
    if (value.isString() || value.isBool())
        return Text(value);
    return value.isArray() ? "a list" : value.isObject() ? "an object" : value.isNull() ? "null" : "nothing";
}

// What the host calls the kinds of input it does not have, after "a" or "an".
static std::string KindName(const std::string& ctype)
{
    if (ctype == "cubemap")
        return "a cube map";
    if (ctype == "webcam")
        return "a video";
    if (ctype == "music" || ctype == "musicstream" || ctype == "mic")
        return "a sound";
    const std::string kind = ctype.empty() ? "unnamed" : ctype;
    return (std::strchr("aeiou", kind[0]) ? "an " : "a ") + kind;
}

ShadertoyImport::ShadertoyImport(std::string name, std::string path)
    : CompiledObject(name)
    , name(std::move(name))
    , path(std::move(path))
{
}

ShadertoyImport::~ShadertoyImport() = default;

bool ShadertoyImport::ParseInput(const QJsonObject& input, const std::string& pass, Parsed& parsed,
                                 std::string& why) const
{
    const int number = input.value("channel").toInt(-1);
    if (number < 0 || number >= kChannels) {
        why = pass + ": an input on channel 0 to 3, got " + Shown(input.value("channel"));
        return false;
    }
    const std::string where = pass + ": iChannel" + std::to_string(number) + ": ";
    std::string ctype = Text(input.value("ctype"));
    if (ctype.empty())
        ctype = Text(input.value("type"));
    std::string source = Text(input.value("src"));
    if (source.empty())
        source = Text(input.value("filepath"));
    const QJsonObject sampler = input.value("sampler").toObject();
    // Without a sampler the site reads a buffer linear and clamped, a texture mipmapped and repeated.
    const bool buffer = ctype == "buffer";
    const std::string filter = sampler.contains("filter") ? Text(sampler.value("filter")) : buffer ? "linear" : "mipmap";
    const std::string wrap = sampler.contains("wrap") ? Text(sampler.value("wrap")) : buffer ? "clamp" : "repeat";
    Channel channel;
    channel.minFilter = filter == "nearest" ? GL_NEAREST : filter == "linear" ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR;
    channel.magFilter = filter == "nearest" ? GL_NEAREST : GL_LINEAR;
    const bool mipmaps = channel.minFilter == GL_LINEAR_MIPMAP_LINEAR;
    channel.wrap = wrap == "clamp" ? GL_CLAMP_TO_EDGE : wrap == "mirror" ? GL_MIRRORED_REPEAT : GL_REPEAT;
    Pass& reader = parsed.passes.back();
    if (buffer) {
        const std::string id = Text(input.value("id"));
        // Older exports name the buffer only by its picture, buffer00.png for A.
        const size_t digit = source.find("buffer0");
        const char letter = digit != std::string::npos && digit + 7 < source.size() ? char('A' + source[digit + 7] - '0') : 0;
        for (size_t i = 0; i < parsed.buffers.size(); ++i)
            if ((!id.empty() && parsed.buffers[i].id == id) || parsed.buffers[i].letter == letter) {
                channel.source = Source::Buffer;
                channel.index = int(i);
                parsed.buffers[i].mipmaps |= mipmaps;
            }
        if (channel.source != Source::Buffer) {
            why = where + "a buffer the export does not have (" + id + ")";
            return false;
        }
    } else if (ctype == "texture") {
        const std::string file = source.substr(source.rfind('/') + 1);
        const bool flipped = Text(sampler.value("vflip")) != "false";
        const std::string folder = path.substr(0, path.rfind('/') + 1);
        size_t index = 0;
        while (index < parsed.textures.size() && !(parsed.textures[index].file == file && parsed.textures[index].flipped == flipped))
            ++index;
        if (index == parsed.textures.size()) {
            Texture texture;
            texture.file = file;
            texture.flipped = flipped;
            SourceFile read{folder + file, FileStamp()};
            std::string reason;
            if (file.empty() || !ReadImageFile(read.path, texture.image, read.stamp, reason)) {
                why = where + (file.empty() ? "a texture without a file name" : file + ": " + reason);
                return false;
            }
            if (flipped)
                texture.image = texture.image.mirrored();
            parsed.textureBytes += std::size_t(texture.image.width()) * std::size_t(texture.image.height()) * 4 * 4 / 3;
            parsed.textures.push_back(std::move(texture));
            parsed.files.push_back(read);
        }
        parsed.textures[index].mipmaps |= mipmaps;
        channel.source = Source::Texture;
        channel.index = int(index);
    } else {
        why = where + KindName(ctype) + " input, which is not supported";
        return false;
    }
    reader.channels[number] = channel;
    return true;
}

// The export of the site's API ({"Shader": {...}}), of its page (an array of shaders, the first
// taken), or the shader object alone.
bool ShadertoyImport::Parse(const std::string& json, Parsed& parsed, std::string& why) const
{
    QJsonParseError failure;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &failure);
    if (document.isNull()) {
        why = "a shader exported as JSON, got " + failure.errorString().toStdString() + " at byte "
            + std::to_string(failure.offset);
        return false;
    }
    QJsonObject shader = document.isArray() ? document.array().at(0).toObject() : document.object();
    if (shader.contains("Shader"))
        shader = shader.value("Shader").toObject();
    const QJsonArray renderPasses = shader.value("renderpass").toArray();
    // The buffers first, by letter, each known before any pass reads it; the Image pass last.
    struct Found {
        QJsonObject pass;
        std::string name;
    };
    std::vector<Found> bufferPasses;
    Found image;
    for (const QJsonValue& value : renderPasses) {
        const QJsonObject pass = value.toObject();
        const std::string type = Text(pass.value("type"));
        std::string passName = Text(pass.value("name"));
        if (type == "common") {
            parsed.common = Text(pass.value("code"));
        } else if (type == "buffer") {
            if (passName.empty())
                passName = "Buffer " + std::string(1, char('A' + bufferPasses.size()));
            bufferPasses.push_back(Found{pass, passName});
        } else if (type == "image") {
            image = Found{pass, passName.empty() ? "Image" : passName};
        } else {
            const std::string named = passName.empty() ? type : passName;
            why = (named.empty() ? "" : named + ": ") + KindName(type) + " pass, which is not supported";
            return false;
        }
    }
    if (image.name.empty()) {
        why = "a shader exported as JSON with an Image pass, got none";
        return false;
    }
    std::stable_sort(bufferPasses.begin(), bufferPasses.end(),
                     [](const Found& a, const Found& b) { return a.name.back() < b.name.back(); });
    for (const Found& found : bufferPasses) {
        Buffer buffer;
        const QJsonArray outputs = found.pass.value("outputs").toArray();
        buffer.id = outputs.isEmpty() ? std::string() : Text(outputs.first().toObject().value("id"));
        buffer.letter = found.name.back();
        parsed.buffers.push_back(buffer);
    }
    bufferPasses.push_back(image);
    for (size_t i = 0; i < bufferPasses.size(); ++i) {
        Pass pass;
        pass.name = bufferPasses[i].name;
        pass.code = Text(bufferPasses[i].pass.value("code"));
        pass.output = i + 1 < bufferPasses.size() ? int(i) : -1;
        parsed.passes.push_back(std::move(pass));
        for (const QJsonValue& input : bufferPasses[i].pass.value("inputs").toArray())
            if (!ParseInput(input.toObject(), parsed.passes.back().name, parsed, why))
                return false;
    }
    return true;
}

bool ShadertoyImport::Load(std::string& why)
{
    Parsed parsed;
    SourceFile file{path, FileStamp()};
    std::string json, reason;
    if (!ReadSourceFile(path, kLargestShadertoyFile, "a JSON export of at most 16 MiB, got a larger file", json,
                        file.stamp, reason)) {
        why = name + ": " + reason;
        return false;
    }
    if (!Parse(json, parsed, reason)) {
        why = name + ": " + reason;
        return false;
    }
    const std::size_t bufferBytes = std::size_t(madeWidth) * std::size_t(madeHeight) * kBufferBytesPerPixel * parsed.buffers.size();
    if (!Hold(parsed.textureBytes + bufferBytes)) {
        why = name + ": " + kUsedUp;
        return false;
    }
    // Read again at a frame start: the context is current, the old names go.
    if (holdsGl)
        FreeGl();
    for (Pass& pass : passes)
        pass.program.reset();
    common = std::move(parsed.common);
    passes = std::move(parsed.passes);
    buffers = std::move(parsed.buffers);
    textures = std::move(parsed.textures);
    textureBytes = parsed.textureBytes;
    madeWidth = madeHeight = 0;
    sources = {file};
    sources.insert(sources.end(), parsed.files.begin(), parsed.files.end());
    compileDue = true;
    compiled = false;
    return true;
}

// Every pass or none: a failed one keeps all the last good programs.
void ShadertoyImport::Compile()
{
    compileDue = false;
    const ShaderText prefix{common, kCommonName};
    std::vector<std::unique_ptr<ShaderProgram>> built;
    std::string messages;
    holdsGl = true;
    for (const Pass& pass : passes) {
        built.push_back(std::make_unique<ShaderProgram>());
        const std::string lines = built.back()->Build(ShaderText{pass.code, pass.name}, ShaderText{}, common.empty() ? nullptr : &prefix);
        // Common is compiled with every pass: its messages are said once.
        for (size_t start = 0, end; start < lines.size(); start = end + 1) {
            end = lines.find('\n', start);
            const std::string line = lines.substr(start, end - start + 1);
            if (line.compare(0, sizeof kCommonName, std::string(kCommonName) + ":") != 0 || messages.find(line) == std::string::npos)
                messages += line;
        }
    }
    if (!messages.empty()) {
        for (auto& program : built)
            program->Free();
        Fail(messages);
        return;
    }
    for (size_t i = 0; i < passes.size(); ++i) {
        if (passes[i].program)
            passes[i].program->Free();
        passes[i].program = std::move(built[i]);
    }
    compiled = true;
    Succeeded();
}

void ShadertoyImport::FreeBuffers()
{
    QOpenGLExtraFunctions* gl = Gl();
    for (Buffer& buffer : buffers) {
        gl->glDeleteFramebuffers(2, buffer.framebuffers);
        glDeleteTextures(2, buffer.textures);
        buffer.framebuffers[0] = buffer.framebuffers[1] = buffer.textures[0] = buffer.textures[1] = 0;
        buffer.finished = 0;
    }
    madeWidth = madeHeight = 0;
}

void ShadertoyImport::FreeGl()
{
    FreeBuffers();
    for (Pass& pass : passes)
        if (pass.program)
            pass.program->Free();
    for (Texture& texture : textures) {
        glDeleteTextures(1, &texture.name);
        texture.name = 0;
    }
    for (const SamplerName& sampler : samplers)
        Gl()->glDeleteSamplers(1, &sampler.name);
    samplers.clear();
    compiled = false;
    compileDue = true;
    holdsGl = false;
}

// Both pictures of every buffer at the view's size, cleared to 0, as the site starts them.
bool ShadertoyImport::PrepareBuffers()
{
    const int width = std::max(1, shared->viewWidth), height = std::max(1, shared->viewHeight);
    if (width == madeWidth && height == madeHeight)
        return true;
    FreeBuffers();
    if (!Hold(textureBytes + std::size_t(width) * std::size_t(height) * kBufferBytesPerPixel * buffers.size())) {
        Fail(name + ": " + kUsedUp + "\n");
        return false;
    }
    QOpenGLExtraFunctions* gl = Gl();
    static const GLfloat zero[4] = {0, 0, 0, 0};
    for (Buffer& buffer : buffers) {
        glGenTextures(2, buffer.textures);
        gl->glGenFramebuffers(2, buffer.framebuffers);
        for (int i = 0; i < 2; ++i) {
            glBindTexture(GL_TEXTURE_2D, buffer.textures[i]);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA16F, width, height, 0, GL_RGBA, GL_HALF_FLOAT, nullptr);
            gl->glBindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffers[i]);
            gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, buffer.textures[i], 0);
            if (gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
                FreeBuffers();
                Fail(name + ": no half-float buffer of the view's size can be made here\n");
                return false;
            }
            gl->glClearBufferfv(GL_COLOR, 0, zero);
            if (buffer.mipmaps)
                gl->glGenerateMipmap(GL_TEXTURE_2D);
        }
    }
    madeWidth = width;
    madeHeight = height;
    return true;
}

unsigned ShadertoyImport::Sampler(const Channel& channel)
{
    for (const SamplerName& sampler : samplers)
        if (sampler.minFilter == channel.minFilter && sampler.magFilter == channel.magFilter && sampler.wrap == channel.wrap)
            return sampler.name;
    QOpenGLExtraFunctions* gl = Gl();
    GLuint name = 0;
    gl->glGenSamplers(1, &name);
    gl->glSamplerParameteri(name, GL_TEXTURE_MIN_FILTER, channel.minFilter);
    gl->glSamplerParameteri(name, GL_TEXTURE_MAG_FILTER, channel.magFilter);
    gl->glSamplerParameteri(name, GL_TEXTURE_WRAP_S, channel.wrap);
    gl->glSamplerParameteri(name, GL_TEXTURE_WRAP_T, channel.wrap);
    samplers.push_back(SamplerName{channel.minFilter, channel.magFilter, channel.wrap, name});
    holdsGl = true;
    return name;
}

void ShadertoyImport::EndImage()
{
    for (int c = 0; c < kChannels; ++c)
        Gl()->glBindSampler(GLuint(kFirstUnit + c), 0);
}

// Each channel's picture on its unit with the pass's filter and wrap (a sampler object, bound
// until EndImage), and its size in iChannelResolution.
void ShadertoyImport::BindChannels(const Pass& pass, ShaderFrameInputs& inputs, int& units)
{
    QOpenGLExtraFunctions* gl = Gl();
    for (int c = 0; c < kChannels; ++c) {
        const Channel& channel = pass.channels[c];
        GLuint texture = 0;
        int width = 0, height = 0;
        if (channel.source == Source::Buffer && madeWidth) {
            const Buffer& buffer = buffers[size_t(channel.index)];
            texture = buffer.textures[buffer.finished];
            width = madeWidth, height = madeHeight;
        } else if (channel.source == Source::Texture) {
            Texture& picture = textures[size_t(channel.index)];
            gl->glActiveTexture(GL_TEXTURE0 + kFirstUnit + c);
            if (!picture.name) {
                glGenTextures(1, &picture.name);
                glBindTexture(GL_TEXTURE_2D, picture.name);
                glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
                glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, picture.image.width(), picture.image.height(), 0, GL_RGBA,
                             GL_UNSIGNED_BYTE, picture.image.constBits());
                if (picture.mipmaps)
                    gl->glGenerateMipmap(GL_TEXTURE_2D);
            }
            texture = picture.name;
            width = picture.image.width(), height = picture.image.height();
        }
        gl->glActiveTexture(GL_TEXTURE0 + kFirstUnit + c);
        glBindTexture(GL_TEXTURE_2D, texture);
        gl->glBindSampler(GLuint(kFirstUnit + c), texture ? Sampler(channel) : 0);
        inputs.channelResolution[3 * c] = float(width);
        inputs.channelResolution[3 * c + 1] = float(height);
        inputs.channelResolution[3 * c + 2] = texture ? 1.0f : 0.0f;
        const int location = pass.program->SamplerLocation("iChannel" + std::to_string(c));
        if (location >= 0)
            gl->glUniform1i(location, kFirstUnit + c);
    }
    gl->glActiveTexture(GL_TEXTURE0);
    units = std::max(units, kFirstUnit + kChannels);
}

void ShadertoyImport::RunBuffers(ShaderFrameInputs inputs, void (*drawQuad)(), int& units)
{
    units = 0;
    CompileIfDue();
    if (!compiled || ranFrame == shared->frame)
        return;
    ranFrame = shared->frame;
    if (!PrepareBuffers())
        return;
    QOpenGLExtraFunctions* gl = Gl();
    glDisable(GL_BLEND);
    glViewport(0, 0, madeWidth, madeHeight);
    inputs.resolution[0] = float(madeWidth);
    inputs.resolution[1] = float(madeHeight);
    for (const Pass& pass : passes) {
        if (pass.output < 0)
            continue;
        Buffer& buffer = buffers[size_t(pass.output)];
        gl->glBindFramebuffer(GL_FRAMEBUFFER, buffer.framebuffers[1 - buffer.finished]);
        pass.program->Bind();
        BindChannels(pass, inputs, units);
        pass.program->SetFrameInputs(inputs);
        drawQuad();
        buffer.finished = 1 - buffer.finished;
        if (buffer.mipmaps) {
            glBindTexture(GL_TEXTURE_2D, buffer.textures[buffer.finished]);
            gl->glGenerateMipmap(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    }
    EndImage();
}

bool ShadertoyImport::UseImage(ShaderFrameInputs inputs, int& units)
{
    units = 0;
    CompileIfDue();
    if (!compiled)
        return false;
    const Pass& image = passes.back();
    image.program->Bind();
    BindChannels(image, inputs, units);
    image.program->SetFrameInputs(inputs);
    return true;
}
