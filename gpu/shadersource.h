#pragma once
// Shader files as a script writes them, turned into what the GL compiler takes, and the
// compiler's messages turned back into the file's own names and lines. Text only: no GL here.

#include <string>

// The uniforms a file written around mainImage may use without declaring them.
extern const char* const kShaderFrameUniforms[];

// The text to compile for a shader file. A file without #version gets one that keeps the
// compatibility built-ins; a fragment file with mainImage and no main of its own gets the frame
// uniforms it does not declare and a main that calls it. Either way a #line directive keeps the
// compiler's line numbers those of the file.
std::string PrepareShaderSource(const std::string& text, bool fragment);

// Mesa's "0:12(3): error: ..." lines as "name:12: error: ...", every other non-empty line as
// "name: ..."; lines end with "\n".
std::string TranslateShaderLog(const std::string& log, const std::string& name);
