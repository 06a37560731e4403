#include "script/outputexcerpt.h"

#include <algorithm>
#include <cstring>

// Each end keeps this many lines, and this many bytes so that one enormous line is cut too.
static constexpr size_t kEndLines = 500;
static constexpr size_t kEndBytes = 16 * 1024;
static const char kLineBreak[] = "\r\n";

static bool IsUtf8Continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Where the kept end of tail starts: within the last kEndLines lines and kEndBytes bytes, at the
// start of a line where there is one, and never inside a UTF-8 sequence.
static size_t CutPoint(const std::string& tail)
{
    if (tail.empty())
        return 0;
    size_t from = tail.size() > kEndBytes ? tail.size() - kEndBytes : 0;
    // A final line without its break counts as a line.
    size_t breaks = 0;
    for (size_t i = tail.size() - 1; i-- > 0;) {
        if (tail[i] == '\n' && ++breaks == kEndLines) {
            from = std::max(from, i + 1);
            break;
        }
    }
    if (from > 0 && tail[from - 1] != '\n') {
        const size_t next = tail.find('\n', from);
        if (next != std::string::npos && next + 1 < tail.size())
            from = next + 1;
    }
    while (from < tail.size() && IsUtf8Continuation(tail[from]))
        ++from;
    return from;
}

static std::string LeftOutLine(size_t lines, size_t bytes)
{
    std::string text = "[... ";
    if (lines > 0)
        text += std::to_string(lines) + (lines == 1 ? " line and " : " lines and ");
    return text + std::to_string(bytes) + " bytes left out ...]";
}

void OutputExcerpt::Clear()
{
    *this = OutputExcerpt();
}

void OutputExcerpt::Append(const char* text, size_t length)
{
    if (!headFull) {
        const size_t limit = std::min(length, kEndBytes - head.size());
        size_t end = 0;
        while (end < limit && headLines < kEndLines) {
            const void* lineBreak = std::memchr(text + end, '\n', limit - end);
            if (!lineBreak) {
                end = limit;
                break;
            }
            end = size_t(static_cast<const char*>(lineBreak) - text) + 1;
            ++headLines;
        }
        while (end > 0 && end < length && IsUtf8Continuation(text[end]))
            --end;
        head.append(text, end);
        text += end;
        length -= end;
        if (length == 0)
            return;
        headFull = true;
    }
    tail.append(text, length);
    tailLines += size_t(std::count(text, text + length, '\n'));
    if (tail.size() > 2 * kEndBytes || tailLines > 2 * kEndLines)
        TrimTail();
}

void OutputExcerpt::TrimTail()
{
    const size_t from = CutPoint(tail);
    const size_t lines = size_t(std::count(tail.begin(), tail.begin() + long(from), '\n'));
    leftOutBytes += from;
    leftOutLines += lines;
    tailLines -= lines;
    tail.erase(0, from);
}

std::string OutputExcerpt::Text() const
{
    const size_t from = CutPoint(tail);
    const size_t bytes = leftOutBytes + from;
    if (bytes == 0)
        return head + tail;
    const size_t lines = leftOutLines + size_t(std::count(tail.begin(), tail.begin() + long(from), '\n'));
    std::string text = head;
    if (!text.empty() && text.back() != '\n')
        text += kLineBreak;
    text += LeftOutLine(lines, bytes) + kLineBreak;
    text.append(tail, from, std::string::npos);
    return text;
}
