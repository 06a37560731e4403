#pragma once
// What a reader makes of an editor's bytes given in pieces of a size: one entry a message,
// then "bad: " and the error, or "pending" for a message not all there.

#include <algorithm>
#include <string>

#include "sync/syncmessages.h"

inline std::string ReadMessages(const std::string& bytes, size_t piece)
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
                + std::to_string(m.pause) + " ";
        if (result == SyncMessageReader::Result::Bad)
            return seen + "bad: " + error;
    }
    return seen + (reader.Pending() ? "pending" : "");
}
