#pragma once
// Shader files as a script writes them (or pastes them from a shader-sharing site), turned into
// what the GL compiler takes, and the compiler's messages turned back into the file's own names
// and lines. Text only: no GL here.

#include <string>
#include <vector>

// The uniforms a file written around mainImage may use without declaring them: declared for it
// when it does not, and for a file with its own main, those it uses.
extern const char* const kShaderFrameUniforms[];

// Whether the host's main calls mainImage.
enum class ShaderWrap {
    Decide,  // when the file has mainImage and no main that the preprocessor surely keeps
    Never,
};

// What preparing a file found out about it.
struct ShaderFacts {
    // The host's main calls the file's mainImage.
    bool wrapped = false;
    // A main stands where the preprocessor may or may not keep it: compiling without the
    // wrapper is worth a try when the wrapped text fails.
    bool mainUncertain = false;
    // The file asks for GLSL ES (#version 300 es): the vertex stage must be ES too.
    bool es = false;
};

// Text compiled ahead of a file's own, numbered as a source of its own (Common of an import).
struct ShaderPrefix {
    std::string text;
    int source = 1;
};

// The text to compile for a shader file. A byte-order mark is dropped; a file without #version
// gets one that keeps the compatibility built-ins; a fragment file gets the frame uniforms it
// needs and does not declare (all of them around mainImage), after its #version and #extension
// lines, and, when wrapped, a main that calls mainImage. #line directives keep the compiler's line
// numbers those of the file (source 0) and of the prefix.
std::string PrepareShaderSource(const std::string& text, bool fragment, ShaderWrap wrap = ShaderWrap::Decide,
                                ShaderFacts* facts = nullptr, const ShaderPrefix* prefix = nullptr);

// Mesa's "0:12(3): error: ..." lines as "name:12: error: ...", with the name of the source the
// line gives (names[source], the first name past the list), every other non-empty line as
// "name: ..."; lines end with "\n".
std::string TranslateShaderLog(const std::string& log, const std::vector<std::string>& names);
std::string TranslateShaderLog(const std::string& log, const std::string& name);
