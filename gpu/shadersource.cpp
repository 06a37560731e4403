// Shader source preparation and compiler message translation.
#include "gpu/shadersource.h"

#include <algorithm>
#include <sstream>

// The text is scanned with plain loops, each step forward: a file of any length or shape costs
// time in proportion to its size and never more stack.

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

// A version number past any there is; larger ones read as this.
static constexpr long kLargestVersion = 1000000;

static bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

static bool IsWordChar(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The position after the blanks from at on.
static size_t SkipSpaces(const std::string& text, size_t at)
{
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    return at;
}

static size_t SkipWord(const std::string& text, size_t at)
{
    while (at < text.size() && IsWordChar(text[at]))
        ++at;
    return at;
}

// Whether word stands at `at` as a whole word: nothing of a name just before or after it.
static bool WordAt(const std::string& text, size_t at, const std::string& word)
{
    return text.compare(at, word.size(), word) == 0 && (at == 0 || !IsWordChar(text[at - 1]))
        && (at + word.size() == text.size() || !IsWordChar(text[at + word.size()]));
}

// Calls step(after) for every place the word stands whole, with the position after it, until
// step returns true; whether one did.
template <typename Step>
static bool AnyAfterWord(const std::string& text, const std::string& word, Step step)
{
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        if (WordAt(text, at, word) && step(at + word.size()))
            return true;
    return false;
}

// "void name (" with blanks between the words.
static bool DeclaresFunction(const std::string& text, const std::string& name)
{
    return AnyAfterWord(text, "void", [&](size_t after) {
        const size_t at = SkipSpaces(text, after);
        if (at == after || text.compare(at, name.size(), name) != 0)
            return false;
        const size_t open = SkipSpaces(text, at + name.size());
        return open < text.size() && text[open] == '(';
    });
}

// "uniform type name" with blanks between the words, name whole.
static bool DeclaresUniform(const std::string& text, const std::string& name)
{
    return AnyAfterWord(text, "uniform", [&](size_t after) {
        const size_t type = SkipSpaces(text, after);
        const size_t typeEnd = SkipWord(text, type);
        const size_t at = SkipSpaces(text, typeEnd);
        return type > after && typeEnd > type && at > typeEnd && WordAt(text, at, name);
    });
}

// The name a uniform declaration declares: "uniform vec3 iResolution;" gives iResolution.
static std::string DeclaredName(const std::string& declaration)
{
    const size_t start = declaration.rfind(' ') + 1;
    return declaration.substr(start, declaration.size() - 1 - start);
}

// Before GLSL 3.30 (and in GLSL ES 1.00) "#line n" numbers the line after it n + 1, from then on
// the line after it n. The first "#version" followed by a number decides.
static bool NumbersTheLineAfter(const std::string& versionText)
{
    const std::string directive = "#version";
    for (size_t at = versionText.find(directive); at != std::string::npos; at = versionText.find(directive, at + 1)) {
        const size_t after = at + directive.size();
        size_t digit = SkipSpaces(versionText, after);
        if (digit == after || digit >= versionText.size() || !IsDigit(versionText[digit]))
            continue;
        long version = 0;
        for (; digit < versionText.size() && IsDigit(versionText[digit]); ++digit)
            version = std::min(kLargestVersion, version * 10 + (versionText[digit] - '0'));
        const size_t es = SkipSpaces(versionText, digit);
        const bool isEs = es > digit && WordAt(versionText, es, "es");
        return version < 330 && !(isEs && version >= 300);
    }
    return false;
}

std::string PrepareShaderSource(const std::string& text, bool fragment)
{
    std::string prelude;
    const bool wrapMainImage = fragment && DeclaresFunction(text, "mainImage") && !DeclaresFunction(text, "main");
    if (wrapMainImage)
        for (const char* const* u = kShaderFrameUniforms; *u; ++u)
            if (!DeclaresUniform(text, DeclaredName(*u)))
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

// Mesa's "0:12(3): text": the line number, and where the text starts; false for another line.
static bool MesaLine(const std::string& line, std::string& number, size_t& textStart)
{
    size_t at = SkipSpaces(line, 0);
    const size_t source = at;
    while (at < line.size() && IsDigit(line[at]))
        ++at;
    if (at == source || at >= line.size() || line[at] != ':')
        return false;
    const size_t first = ++at;
    while (at < line.size() && IsDigit(line[at]))
        ++at;
    if (at == first || at >= line.size() || line[at] != '(')
        return false;
    number = line.substr(first, at - first);
    const size_t column = ++at;
    while (at < line.size() && IsDigit(line[at]))
        ++at;
    if (at == column || line.compare(at, 2, "):") != 0)
        return false;
    textStart = SkipSpaces(line, at + 2);
    return true;
}

std::string TranslateShaderLog(const std::string& log, const std::string& name)
{
    std::istringstream lines(log);
    std::string line, out, number;
    while (std::getline(lines, line)) {
        while (!line.empty() && IsSpace(line.back()))
            line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        size_t text = 0;
        if (MesaLine(line, number, text))
            out += name + ":" + number + ": " + line.substr(text) + "\n";
        else
            out += name + ": " + line.substr(start) + "\n";
    }
    return out;
}
