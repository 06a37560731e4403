#pragma once
// What the console shows of a chunk's output or error text: all of it while it is short,
// otherwise its start and its end with one line between them that says how many lines and bytes
// were left out. Text that will not be shown is dropped as it arrives, so a print loop of any
// length costs bounded memory, and the console never has to lay out more than a screenful or
// two, which is what keeps a command's Return quick whatever it printed.

#include <cstddef>
#include <string>

class OutputExcerpt {
public:
    void Clear();
    void Append(const char* text, size_t length);
    void Append(const std::string& text) { Append(text.data(), text.size()); }
    std::string Text() const;

private:
    void TrimTail();

    std::string head;
    std::string tail;
    size_t headLines = 0;
    size_t tailLines = 0;
    bool headFull = false;
    size_t leftOutBytes = 0;
    size_t leftOutLines = 0;
};
