// Every input is what an editor might send after the demo's greeting, the first byte choosing
// where to cut it in two. Read whole, read in the two pieces and read a byte at a time, it must
// give the same messages and end the same way: no message is made of bytes that have not come.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sync/syncmessages.h"

// One line a message, then "bad: " and the error, or "pending" for a message not all there.
static std::string ReadMessages(const std::string& bytes, size_t piece)
{
    SyncMessageReader reader;
    std::string seen;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        reader.Append(bytes.data() + at, std::min(piece, bytes.size() - at));
        SyncMessage m;
        std::string error;
        SyncMessageReader::Result result;
        while ((result = reader.Next(m, error)) == SyncMessageReader::Result::Message)
            seen += std::to_string(int(m.command)) + "/" + std::to_string(m.track) + "/" + std::to_string(m.key.row)
                + "/" + std::to_string(m.key.value) + "/" + std::to_string(int(m.key.interpolation)) + "/"
                + std::to_string(m.pause) + "\n";
        if (result == SyncMessageReader::Result::Bad)
            return seen + "bad: " + error;
    }
    return seen + (reader.Pending() ? "pending" : "");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // Most inputs greet as the editor does, so that the fuzzer spends its time on the messages.
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = (data[0] & 0x80 ? "" : kSyncEditorGreeting) + body;
    const std::string whole = ReadMessages(bytes, bytes.size() + 1);
    const size_t cut = (data[0] & 0x7F) % (bytes.size() + 1) + 1;
    if (ReadMessages(bytes, cut) != whole || ReadMessages(bytes, 1) != whole) {
        std::fprintf(stderr, "read in pieces of %zu or 1, not as when whole:\n%s", cut, whole.c_str());
        std::abort();
    }
    return 0;
}
