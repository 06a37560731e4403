// Shader source preparation and compiler message translation.
#include "gpu/shadersource.h"

#include <algorithm>
#include <map>
#include <sstream>

// The text is scanned with plain loops, each step forward: a file of any length or shape costs
// time in proportion to its size and never more stack.

const char* const kShaderFrameUniforms[] = {
    "uniform vec3 iResolution;",       "uniform float iTime;",
    "uniform float iTimeDelta;",       "uniform int iFrame;",
    "uniform vec4 iMouse;",            "uniform vec4 iDate;",
    "uniform float iChannelTime[4];",  "uniform vec3 iChannelResolution[4];",
    "uniform float iSampleRate;",      "uniform float iFrameRate;",
    "uniform float iGlobalTime;",      "uniform sampler2D iChannel0;",
    "uniform sampler2D iChannel1;",    "uniform sampler2D iChannel2;",
    "uniform sampler2D iChannel3;",    "uniform sampler2D iSpectrum;",
    nullptr,
};

// Compatibility profile keeps gl_Color, gl_FragColor and the fixed-function matrices.
static const char kDefaultVersion[] = "#version 330 compatibility";
static const char kByteOrderMark[] = "\xEF\xBB\xBF";
// Where the host's main leaves the colour under a version without gl_FragColor.
static const char kModernOutput[] = "layout(location = 0) out vec4 quillmereFragColor;\n";
// GLSL ES gives float no default precision in a fragment stage; the host's declarations need one.
static const char kEsPrecision[] = "precision highp float;\nprecision highp int;\n";

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

// The position after the spaces and tabs from at on, within the line.
static size_t SkipBlanks(const std::string& text, size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
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

// What the preprocessor does with a stretch of text: known to drop it, may keep it, keeps it.
enum Kept { kDropped, kMaybe, kKept };

static Kept Both(Kept a, Kept b)
{
    return std::min(a, b);
}

static Kept Either(Kept a, Kept b)
{
    return std::max(a, b);
}

static Kept Negated(Kept a)
{
    return Kept(kKept - a);
}

// The file with its comments blanked out (line breaks kept, so positions and lines stay), and
// for each line whether the preprocessor keeps it, from #if, #ifdef, #ifndef, #elif, #else and
// #endif with the file's own #define and #undef. Conditions other than a number or (!)defined
// read as kMaybe.
class SourceScan {
public:
    explicit SourceScan(const std::string& text);

    std::string code;
    std::vector<size_t> lineStarts;
    std::vector<Kept> kept;
    // The depth of conditions open after each line.
    std::vector<size_t> depthAfter;

    size_t LineOf(size_t at) const
    {
        return size_t(std::upper_bound(lineStarts.begin(), lineStarts.end(), at) - lineStarts.begin()) - 1;
    }
    Kept KeptAt(size_t at) const { return kept[LineOf(at)]; }
    // The most kept of the places "void name (" stands.
    Kept Function(const std::string& name) const;
    // The type of the last "uniform [precision] type name" not dropped, "" for none.
    std::string UniformType(const std::string& name) const;
    // Whether the name stands whole anywhere not dropped.
    bool Uses(const std::string& name) const;

    struct Condition {
        Kept outer;
        Kept branch;
        Kept taken;
    };

private:
    void Directive(const std::string& line, size_t at, std::vector<Condition>& open);
    Kept Defined(const std::string& name) const;
    Kept Evaluate(const std::string& line, size_t at) const;
    std::map<std::string, Kept> defines;
};

static Kept Current(const std::vector<SourceScan::Condition>& open);

SourceScan::SourceScan(const std::string& text) : code(text)
{
    // Comments to blanks, keeping line breaks.
    for (size_t at = code.find('/'); at < code.size(); at = code.find('/', at + 1)) {
        const char next = at + 1 < code.size() ? code[at + 1] : 0;
        if (next == '/') {
            for (; at < code.size() && code[at] != '\n'; ++at)
                code[at] = ' ';
        } else if (next == '*') {
            const size_t end = code.find("*/", at + 2);
            const size_t stop = end == std::string::npos ? code.size() : end + 2;
            for (; at < stop; ++at)
                if (code[at] != '\n')
                    code[at] = ' ';
            --at;
        }
    }
    std::vector<Condition> open;
    for (size_t start = 0; start <= code.size();) {
        size_t end = code.find('\n', start);
        if (end == std::string::npos)
            end = code.size();
        lineStarts.push_back(start);
        const size_t first = SkipBlanks(code, start);
        kept.push_back(Current(open));
        if (first < end && code[first] == '#')
            Directive(code.substr(first + 1, end - first - 1), 0, open);
        depthAfter.push_back(open.size());
        start = end + 1;
    }
}

static Kept Current(const std::vector<SourceScan::Condition>& open)
{
    return open.empty() ? kKept : Both(open.back().outer, open.back().branch);
}

Kept SourceScan::Defined(const std::string& name) const
{
    const auto found = defines.find(name);
    if (found != defines.end())
        return found->second;
    // A desktop context never defines GL_ES; the compiler's other names may or may not be.
    if (name == "GL_ES")
        return kDropped;
    return name.compare(0, 3, "GL_") == 0 || name.compare(0, 2, "__") == 0 ? kMaybe : kDropped;
}

Kept SourceScan::Evaluate(const std::string& line, size_t at) const
{
    at = SkipSpaces(line, at);
    bool negate = false;
    if (at < line.size() && line[at] == '!')
        negate = true, at = SkipSpaces(line, at + 1);
    Kept value = kMaybe;
    size_t end = at;
    if (at < line.size() && IsDigit(line[at])) {
        end = SkipWord(line, at);
        value = line.find_first_not_of('0', at) >= end ? kDropped : kKept;
    } else if (WordAt(line, at, "defined")) {
        size_t name = SkipSpaces(line, at + 7);
        const bool parenthesised = name < line.size() && line[name] == '(';
        if (parenthesised)
            name = SkipSpaces(line, name + 1);
        end = SkipWord(line, name);
        if (end > name)
            value = Defined(line.substr(name, end - name));
        if (parenthesised) {
            end = SkipSpaces(line, end);
            end = end < line.size() && line[end] == ')' ? end + 1 : line.size() + 1;
        }
    }
    // Anything after the one term makes an expression this does not read.
    if (end > line.size() || SkipSpaces(line, end) != line.size())
        return kMaybe;
    return negate ? Negated(value) : value;
}

void SourceScan::Directive(const std::string& line, size_t at, std::vector<Condition>& open)
{
    at = SkipSpaces(line, at);
    const size_t wordEnd = SkipWord(line, at);
    const std::string word = line.substr(at, wordEnd - at);
    const size_t nameAt = SkipSpaces(line, wordEnd);
    const std::string name = line.substr(nameAt, SkipWord(line, nameAt) - nameAt);
    const Kept now = Current(open);
    if (word == "if" || word == "ifdef" || word == "ifndef") {
        const Kept value = word == "if" ? Evaluate(line, wordEnd)
                         : word == "ifdef" ? Defined(name) : Negated(Defined(name));
        open.push_back(Condition{now, value, value});
    } else if (open.empty()) {
        if (word == "define" && !name.empty())
            defines[name] = kKept;
        else if (word == "undef" && !name.empty())
            defines[name] = kDropped;
    } else if (word == "elif") {
        const Kept value = Evaluate(line, wordEnd);
        open.back().branch = Both(Negated(open.back().taken), value);
        open.back().taken = Either(open.back().taken, value);
    } else if (word == "else") {
        open.back().branch = Negated(open.back().taken);
        open.back().taken = kKept;
    } else if (word == "endif") {
        open.pop_back();
    } else if ((word == "define" || word == "undef") && !name.empty() && now != kDropped) {
        const Kept set = word == "define" ? kKept : kDropped;
        defines[name] = now == kKept ? set : Either(kMaybe, Both(Defined(name), kMaybe));
    }
}

Kept SourceScan::Function(const std::string& name) const
{
    Kept best = kDropped;
    for (size_t at = code.find("void"); at != std::string::npos; at = code.find("void", at + 1)) {
        if (!WordAt(code, at, "void"))
            continue;
        const size_t nameAt = SkipSpaces(code, at + 4);
        if (nameAt == at + 4 || !WordAt(code, nameAt, name))
            continue;
        const size_t open = SkipSpaces(code, nameAt + name.size());
        if (open < code.size() && code[open] == '(')
            best = Either(best, KeptAt(at));
    }
    return best;
}

static bool IsPrecision(const std::string& text, size_t at)
{
    return WordAt(text, at, "lowp") || WordAt(text, at, "mediump") || WordAt(text, at, "highp");
}

std::string SourceScan::UniformType(const std::string& name) const
{
    std::string type;
    for (size_t at = code.find("uniform"); at != std::string::npos; at = code.find("uniform", at + 1)) {
        if (!WordAt(code, at, "uniform") || KeptAt(at) == kDropped)
            continue;
        size_t typeAt = SkipSpaces(code, at + 7);
        if (IsPrecision(code, typeAt))
            typeAt = SkipSpaces(code, SkipWord(code, typeAt));
        const size_t typeEnd = SkipWord(code, typeAt);
        const size_t nameAt = SkipSpaces(code, typeEnd);
        if (typeAt > at + 7 && typeEnd > typeAt && nameAt > typeEnd && WordAt(code, nameAt, name))
            type = code.substr(typeAt, typeEnd - typeAt);
    }
    return type;
}

bool SourceScan::Uses(const std::string& name) const
{
    for (size_t at = code.find(name); at != std::string::npos; at = code.find(name, at + 1))
        if (WordAt(code, at, name) && KeptAt(at) != kDropped)
            return true;
    return false;
}

// The name a uniform declaration declares: "uniform vec3 iResolution;" gives iResolution.
static std::string DeclaredName(const std::string& declaration)
{
    const size_t start = declaration.find(' ', 8) + 1;
    return declaration.substr(start, declaration.find_first_of("[;", start) - start);
}

struct Version {
    long number = 0;
    bool es = false;
    bool compatibility = false;
};

// The first "#version" followed by a number in the text.
static bool ReadVersion(const std::string& text, Version& version)
{
    const std::string directive = "#version";
    for (size_t at = text.find(directive); at != std::string::npos; at = text.find(directive, at + 1)) {
        const size_t after = at + directive.size();
        size_t digit = SkipSpaces(text, after);
        if (digit == after || digit >= text.size() || !IsDigit(text[digit]))
            continue;
        version.number = 0;
        for (; digit < text.size() && IsDigit(text[digit]); ++digit)
            version.number = std::min(kLargestVersion, version.number * 10 + (text[digit] - '0'));
        const size_t profile = SkipSpaces(text, digit);
        version.es = profile > digit && WordAt(text, profile, "es");
        version.compatibility = profile > digit && WordAt(text, profile, "compatibility");
        return true;
    }
    return false;
}

// Before GLSL 3.30 (and in GLSL ES 1.00) "#line n" numbers the line after it n + 1, from then on
// the line after it n.
static bool NumbersTheLineAfter(const Version& version)
{
    return version.number < 330 && !(version.es && version.number >= 300);
}

// Whether the version has no gl_FragColor: core profiles from 3.30 on, and GLSL ES 3.
static bool WithoutFragColor(const Version& version)
{
    return version.es ? version.number >= 300 : version.number >= 330 && !version.compatibility;
}

static bool StartsWithDirective(const std::string& code, size_t start, const char* name)
{
    size_t at = SkipBlanks(code, start);
    if (at >= code.size() || code[at] != '#')
        return false;
    at = SkipBlanks(code, at + 1);
    return WordAt(code, at, name);
}

static std::string WithoutByteOrderMark(const std::string& text)
{
    return text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text;
}

std::string PrepareShaderSource(const std::string& original, bool fragment, ShaderWrap wrap, ShaderFacts* facts,
                                const ShaderPrefix* prefix)
{
    const std::string text = WithoutByteOrderMark(original);
    const SourceScan scan(text);
    const size_t lineCount = scan.lineStarts.size();

    const Kept main = scan.Function("main");
    ShaderFacts found;
    found.wrapped = fragment && wrap == ShaderWrap::Decide && main != kKept && scan.Function("mainImage") != kDropped;
    found.mainUncertain = found.wrapped && main == kMaybe;
    std::string prelude;
    for (const char* const* u = kShaderFrameUniforms; *u; ++u) {
        const std::string name = DeclaredName(*u);
        if (scan.UniformType(name).empty() && (found.wrapped || scan.Uses(name)))
            prelude += std::string(*u) + "\n";
    }

    // The #version line, if any, must stay first, and #extension lines must come before any
    // declaration: the prelude follows the last of them (out of any condition around it).
    size_t versionLine = lineCount;
    for (size_t line = 0; line < lineCount && versionLine == lineCount; ++line)
        if (StartsWithDirective(scan.code, scan.lineStarts[line], "version"))
            versionLine = line;
    Version version{330, false, true};
    if (versionLine < lineCount)
        ReadVersion(scan.code.substr(scan.lineStarts[versionLine]), version);
    found.es = version.es;
    const size_t start = versionLine < lineCount ? versionLine + 1 : 0;
    size_t insert = start;
    for (size_t line = start; line < lineCount; ++line)
        if (StartsWithDirective(scan.code, scan.lineStarts[line], "extension")) {
            size_t closed = line;
            while (closed < lineCount && scan.depthAfter[closed] > 0)
                ++closed;
            insert = std::min(lineCount, closed + 1);
            line = insert - 1;
        }
    if (fragment && version.es && (!prelude.empty() || found.wrapped))
        prelude = kEsPrecision + prelude;
    const bool modernOutput = found.wrapped && WithoutFragColor(version);
    if (modernOutput)
        prelude += kModernOutput;

    const bool after = NumbersTheLineAfter(version);
    const auto lineDirective = [&](size_t number, int source) {
        return "#line " + std::to_string(number - (after ? 1 : 0)) + (source ? " " + std::to_string(source) : "") + "\n";
    };
    const auto lines = [&](size_t from, size_t to) {
        const size_t begin = scan.lineStarts[from];
        const size_t end = to < lineCount ? scan.lineStarts[to] : text.size();
        std::string part = text.substr(begin, end - begin);
        if (!part.empty() && part.back() != '\n')
            part += '\n';
        return part;
    };
    std::string out;
    // The lines before #version can only be comments and blank lines: they stay above it.
    out = versionLine < lineCount ? lines(0, start) : std::string(kDefaultVersion) + "\n";
    if (insert > start)
        out += lineDirective(start + 1, 0) + lines(start, insert);
    out += prelude;
    if (prefix)
        out += lineDirective(1, prefix->source) + WithoutByteOrderMark(prefix->text) + "\n";
    out += lineDirective(insert + 1, 0);
    if (insert < lineCount)
        out += lines(insert, lineCount);
    if (found.wrapped)
        out += std::string("void main() { vec4 colour = vec4(0.0, 0.0, 0.0, 1.0); mainImage(colour, gl_FragCoord.xy); ")
            + (modernOutput ? "quillmereFragColor" : "gl_FragColor") + " = colour; }\n";
    if (facts)
        *facts = found;
    return out;
}

// Mesa's "0:12(3): text": the source and line numbers, and where the text starts; false for
// another line.
static bool MesaLine(const std::string& line, size_t& source, std::string& number, size_t& textStart)
{
    size_t at = SkipSpaces(line, 0);
    const size_t sourceAt = at;
    while (at < line.size() && IsDigit(line[at]))
        ++at;
    if (at == sourceAt || at >= line.size() || line[at] != ':')
        return false;
    source = at - sourceAt > 6 ? size_t(-1) : std::stoul(line.substr(sourceAt, at - sourceAt));
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

std::string TranslateShaderLog(const std::string& log, const std::vector<std::string>& names)
{
    std::istringstream lines(log);
    std::string line, out, number;
    while (std::getline(lines, line)) {
        while (!line.empty() && IsSpace(line.back()))
            line.pop_back();
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        size_t text = 0, source = 0;
        if (MesaLine(line, source, number, text))
            out += names[std::min(source, names.size() - 1)] + ":" + number + ": " + line.substr(text) + "\n";
        else
            out += names[0] + ": " + line.substr(start) + "\n";
    }
    return out;
}

std::string TranslateShaderLog(const std::string& log, const std::string& name)
{
    return TranslateShaderLog(log, std::vector<std::string>{name});
}
