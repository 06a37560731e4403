// Shader source preparation and compiler message translation.
#include "gpu/shadersource.h"

#include <cctype>
#include <regex>
#include <sstream>

const char* const kShaderFrameUniforms[] = {
    "uniform vec3 iResolution;", "uniform float iTime;",         "uniform float iTimeDelta;",
    "uniform int iFrame;",       "uniform vec4 iMouse;",         "uniform sampler2D iChannel0;",
    "uniform sampler2D iChannel1;", "uniform sampler2D iChannel2;", "uniform sampler2D iChannel3;",
    "uniform sampler2D iSpectrum;",
    nullptr,
};

// Compatibility profile keeps gl_Color, gl_FragColor and the fixed-function matrices.
static const char kDefaultVersion[] = "#version 330 compatibility";

static const char kMainImageCall[] =
    "void main() { vec4 colour = vec4(0.0, 0.0, 0.0, 1.0); mainImage(colour, gl_FragCoord.xy);"
    " gl_FragColor = colour; }\n";

static bool Declares(const std::string& text, const std::string& pattern)
{
    return std::regex_search(text, std::regex(pattern));
}

// The name a uniform declaration declares: "uniform vec3 iResolution;" gives iResolution.
static std::string DeclaredName(const std::string& declaration)
{
    const size_t start = declaration.rfind(' ') + 1;
    return declaration.substr(start, declaration.size() - 1 - start);
}

// Before GLSL 3.30 (and in GLSL ES 1.00) "#line n" numbers the line after it n + 1, from then on
// the line after it n.
static bool NumbersTheLineAfter(const std::string& versionText)
{
    std::smatch m;
    if (!std::regex_search(versionText, m, std::regex(R"(#version\s+(\d+)(\s+es\b)?)")))
        return false;
    const int version = std::stoi(m[1].str());
    return version < 330 && !(m[2].matched && version >= 300);
}

std::string PrepareShaderSource(const std::string& text, bool fragment)
{
    std::string prelude;
    const bool wrapMainImage = fragment && Declares(text, R"(\bvoid\s+mainImage\s*\()")
        && !Declares(text, R"(\bvoid\s+main\s*\()");
    if (wrapMainImage)
        for (const char* const* u = kShaderFrameUniforms; *u; ++u)
            if (!Declares(text, R"(\buniform\s+\w+\s+)" + DeclaredName(*u) + R"(\b)"))
                prelude += std::string(*u) + "\n";

    // The #version line, if any, must stay first: the prelude follows it.
    std::istringstream lines(text);
    std::string line, head, body;
    int lineNumber = 0, versionLine = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        const size_t start = line.find_first_not_of(" \t");
        if (!versionLine && start != std::string::npos && line.compare(start, 8, "#version") == 0) {
            versionLine = lineNumber;
            head += line + "\n";
            continue;
        }
        (versionLine ? body : head) += line + "\n";
    }
    std::string out;
    if (versionLine) {
        // The lines before #version can only be comments and blank lines: they stay above it.
        out = head + prelude + "#line " + std::to_string(versionLine + 1 - (NumbersTheLineAfter(head) ? 1 : 0))
            + "\n" + body;
    } else {
        out = std::string(kDefaultVersion) + "\n" + prelude + "#line 1\n" + head;
    }
    if (wrapMainImage)
        out += kMainImageCall;
    return out;
}

std::string TranslateShaderLog(const std::string& log, const std::string& name)
{
    static const std::regex mesaLine(R"(^\s*\d+:(\d+)\(\d+\):\s*(.*)$)");
    std::istringstream lines(log);
    std::string line, out;
    std::smatch m;
    while (std::getline(lines, line)) {
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        if (std::regex_match(line, m, mesaLine))
            out += name + ":" + m[1].str() + ": " + m[2].str() + "\n";
        else
            out += name + ": " + line.substr(line.find_first_not_of(" \t")) + "\n";
    }
    return out;
}
