#include "sync/syncmessages.h"

#include <algorithm>
#include <cstring>

// The fields that follow each of the editor's command bytes.
static constexpr size_t kSetKeyBytes = 4 + 4 + 4 + 1;
static constexpr size_t kDeleteKeyBytes = 4 + 4;
static constexpr size_t kSetRowBytes = 4;
static constexpr size_t kPauseBytes = 1;

static void PutBigEndian(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xFF);
}

std::string GetTrackMessage(const std::string& name)
{
    std::string message(1, char(SyncCommand::GetTrack));
    PutBigEndian(message, uint32_t(name.size()));
    return message + name;
}

std::string SetRowMessage(uint32_t row)
{
    std::string message(1, char(SyncCommand::SetRow));
    PutBigEndian(message, row);
    return message;
}

void SyncMessageReader::Reset()
{
    buffer.clear();
    read = 0;
    greeted = false;
}

void SyncMessageReader::Append(const char* bytes, size_t size)
{
    // What has been read goes once it is the larger part, so the buffer stays as small as the
    // messages not yet taken.
    if (read > 0 && read >= buffer.size() - read) {
        buffer.erase(0, read);
        read = 0;
    }
    buffer.append(bytes, size);
}

uint32_t SyncMessageReader::Word(size_t offset) const
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(buffer[read + offset + i]);
    return value;
}

SyncMessageReader::Result SyncMessageReader::Next(SyncMessage& message, std::string& error)
{
    if (!greeted) {
        const size_t length = sizeof kSyncEditorGreeting - 1;
        const size_t have = std::min(length, buffer.size() - read);
        if (buffer.compare(read, have, kSyncEditorGreeting, have) != 0) {
            error = "it did not greet as the sync editor does";
            return Result::Bad;
        }
        if (have < length)
            return Result::NeedMore;
        read += length;
        greeted = true;
    }
    if (!Have(1))
        return Result::NeedMore;
    const unsigned char command = static_cast<unsigned char>(buffer[read]);
    message = SyncMessage();
    message.command = SyncCommand(command);
    switch (message.command) {
    case SyncCommand::SetKey: {
        if (!Have(1 + kSetKeyBytes))
            return Result::NeedMore;
        const unsigned char type = static_cast<unsigned char>(buffer[read + 13]);
        if (type >= kSyncInterpolationCount) {
            error = "a key with the interpolation " + std::to_string(type) + ", past 3";
            return Result::Bad;
        }
        const uint32_t bits = Word(9);
        message.track = Word(1);
        message.key.row = Word(5);
        std::memcpy(&message.key.value, &bits, sizeof message.key.value);
        message.key.interpolation = SyncInterpolation(type);
        read += 1 + kSetKeyBytes;
        return Result::Message;
    }
    case SyncCommand::DeleteKey:
        if (!Have(1 + kDeleteKeyBytes))
            return Result::NeedMore;
        message.track = Word(1);
        message.key.row = Word(5);
        read += 1 + kDeleteKeyBytes;
        return Result::Message;
    case SyncCommand::SetRow:
        if (!Have(1 + kSetRowBytes))
            return Result::NeedMore;
        message.key.row = Word(1);
        read += 1 + kSetRowBytes;
        return Result::Message;
    case SyncCommand::Pause:
        if (!Have(1 + kPauseBytes))
            return Result::NeedMore;
        message.pause = buffer[read + 1] != 0;
        read += 1 + kPauseBytes;
        return Result::Message;
    case SyncCommand::SaveTracks:
        read += 1;
        return Result::Message;
    case SyncCommand::GetTrack:
        break;
    }
    error = "the unknown command " + std::to_string(command);
    return Result::Bad;
}
