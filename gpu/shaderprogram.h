#pragma once
// One GL program built from shader texts as scripts write them (gpu/shadersource.h), with the
// host's frame inputs set on it by name. Compiled with GL's own calls, so that a failure says
// the compiler's lines under the files' names and nothing more. Its GL name is made and freed
// with the context current; the owner of the object holding it calls Free.

#include <map>
#include <string>

#include "gpu/shadersource.h"

class ScriptSampler;

// What the host gives every shader that declares it.
struct ShaderFrameInputs {
    float resolution[3] = {0, 0, 1};
    float time = 0;
    float timeDelta = 0;
    float frame = 0;
    float mouse[4] = {0, 0, 0, 0};
    // Year, month from 0, day of the month, seconds since midnight.
    float date[4] = {0, 0, 0, 0};
    float channelTime[4] = {0, 0, 0, 0};
    float channelResolution[12] = {};
    float sampleRate = 44100;
    float frameRate = 60;
    ScriptSampler* spectrum = nullptr;
    // The texture units the context has: samplers past them are left unbound.
    int units = 0;
};

// A shader file's text and the name its messages go under.
struct ShaderText {
    std::string text;
    std::string name;
};

class ShaderProgram {
public:
    ShaderProgram() = default;
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    // Compiles and links the fragment text with the vertex text, or with the host's vertex
    // stage when that is empty (an ES one for an ES fragment file). The new program replaces
    // the last good one only once it links. "" on success, or the translated messages. A
    // prefix is compiled ahead of the fragment text, its lines under its own name.
    std::string Build(const ShaderText& fragment, const ShaderText& vertex, const ShaderText* prefix = nullptr);
    unsigned Id() const { return program; }
    // Whether the last good program calls the file's mainImage from the host's main.
    bool Wrapped() const { return wrapped; }
    void Bind() const;
    // Sets the frame inputs the program declares, each filled to the size it was declared
    // with (a vec2 iResolution takes x and y). Also the transform of the ES vertex stage.
    void SetFrameInputs(const ShaderFrameInputs& inputs) const;
    // Values for the uniform of that name, of the count its type takes: a float or int type
    // and 1 to 4 or 16 values. With fill, any count does and the rest of the type is 0.
    // False when the program has no such uniform.
    bool Set(const std::string& name, const float* values, int count, bool fill) const;
    // The location of a sampler2D uniform, -1 for none.
    int SamplerLocation(const std::string& name) const;
    void Free();

private:
    struct Active {
        int location = -1;
        unsigned type = 0;
        int size = 1;
    };
    unsigned program = 0;
    bool wrapped = false;
    // The program's active uniforms by name ("a[0]" as "a").
    std::map<std::string, Active> active;
};
