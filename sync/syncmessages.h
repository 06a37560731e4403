#pragma once
// The sync editor's protocol, as the demo side speaks it. The demo greets, the editor answers;
// then each message is a command byte and its fields, integers big-endian, floats as their IEEE
// bits big-endian. The reader takes the editor's bytes as they come, in pieces of any size.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sync/synctrack.h"

// What the demo sends first, and what the editor must answer.
constexpr char kSyncDemoGreeting[] = "hello, synctracker!";
constexpr char kSyncEditorGreeting[] = "hello, demo!";

enum class SyncCommand : uint8_t {
    SetKey = 0,
    DeleteKey = 1,
    GetTrack = 2,
    SetRow = 3,
    Pause = 4,
    SaveTracks = 5,
};

struct SyncMessage {
    SyncCommand command = SyncCommand::SaveTracks;
    // SetKey and DeleteKey: the track, numbered by the order in which the demo asked for them.
    uint32_t track = 0;
    // SetKey (key.row), DeleteKey and SetRow use the row.
    SyncKey key;
    // Pause: true pauses, false plays.
    bool pause = false;
};

// The demo's messages.
std::string GetTrackMessage(const std::string& name);
std::string SetRowMessage(uint32_t row);

class SyncMessageReader {
public:
    enum class Result { Message, NeedMore, Bad };

    // A new connection: the greeting comes first again.
    void Reset();
    void Append(const char* bytes, size_t size);
    // The next complete message; Bad, with what is wrong, for bytes that are no message (the
    // connection cannot go on after them); NeedMore while the message is not all there.
    Result Next(SyncMessage& message, std::string& error);
    bool Greeted() const { return greeted; }
    // Bytes of a greeting or a message that has not come whole.
    bool Pending() const { return read < buffer.size(); }

private:
    bool Have(size_t count) const { return buffer.size() - read >= count; }
    uint32_t Word(size_t offset) const;

    std::string buffer;
    size_t read = 0;
    bool greeted = false;
};
