// Every input is a shader file and a compiler log at once: prepared as a fragment and as a
// vertex file, and translated. Whatever the bytes, the preparation keeps every line of the file
// in order, ends in a newline, and begins with the file's own #version line or, without one,
// the host's; every line of the translation carries the file's name and comes from a line of
// the log.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "gpu/shadersource.h"

static const char kName[] = "fuzz.frag";

static void Fail(const char* what, const std::string& input)
{
    std::fprintf(stderr, "%s, for %zu bytes of input\n", what, input.size());
    std::abort();
}

static std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The first line that is a #version directive ("#", blanks allowed, "version" and no longer
// word such as "versions"); "" for none.
static std::string VersionLine(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] != '#')
            continue;
        at = line.find_first_not_of(" \t", at + 1);
        if (at == std::string::npos || line.compare(at, 7, "version") != 0)
            continue;
        at += 7;
        if (at == line.size() || !(std::isalnum(static_cast<unsigned char>(line[at])) || line[at] == '_'))
            return line;
    }
    return "";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A byte-order mark at the start is dropped; the rest of its line stays.
    const bool marked = text.rfind("\xEF\xBB\xBF", 0) == 0;
    const std::vector<std::string> file = Lines(marked ? text.substr(3) : text);
    for (const bool fragment : {true, false}) {
        const std::string prepared = PrepareShaderSource(text, fragment);
        if (prepared.empty() || prepared.back() != '\n')
            Fail("prepared text without its last newline", text);
        const std::vector<std::string> out = Lines(prepared);
        // A #version line after an unclosed block comment may be inside it: then either will do.
        const std::string version = VersionLine(file), host = "#version 330 compatibility";
        const bool commented = text.find("/*") < text.find(version.empty() ? host : version);
        const std::string got = VersionLine(out);
        if (got != (version.empty() ? host : version) && !(commented && got == host))
            Fail("a #version other than the file's own, or than the host's for a file without one", text);
        size_t next = 0;
        for (const std::string& line : file) {
            while (next < out.size() && out[next] != line)
                ++next;
            if (next++ == out.size())
                Fail("a line of the file lost or out of order", text);
        }
    }
    const std::vector<std::string> translated = Lines(TranslateShaderLog(text, kName));
    if (translated.size() > Lines(text).size())
        Fail("more translated lines than the log has", text);
    for (const std::string& line : translated)
        if (line.rfind(std::string(kName) + ":", 0) != 0)
            Fail("a translated line without the file's name", text);
    return 0;
}
