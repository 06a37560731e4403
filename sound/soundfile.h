#pragma once
// A sound file held open for every decoder of it: the stream's decoders, the loop's and the
// analysis's each read it at a place of their own, and none holds it in memory. Whatever
// happens to the path afterwards (a save that replaces it, a pipe that gives other bytes the
// next time), they all read what was opened.
#include <SDL_rwops.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class SoundFile : public std::enable_shared_from_this<SoundFile> {
public:
    // Null with errno's code when the path cannot be opened or read. What cannot be read again
    // from any place (a pipe, a terminal) is copied into an unnamed temporary file first.
    static std::shared_ptr<SoundFile> Open(const std::string& path, int& error);
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    long long Size() const { return size; }
    // Up to `bytes` from `offset`, fewer only at the end; -1 when the read fails.
    long long ReadAt(void* buffer, size_t bytes, long long offset) const;
    // A read-only SDL stream over the file from its start, which keeps the file open until it is
    // closed. Any thread may read it, each stream at its own place.
    SDL_RWops* NewRWops() const;

    // A place in the file that one reader moves, reading ahead in blocks: decoders read a few
    // bytes at a time (an mp3 frame's header, then its body), and a jump far into a long mp3
    // reads every frame's header up to there.
    class Cursor {
    public:
        explicit Cursor(std::shared_ptr<const SoundFile> file) : file(std::move(file)) {}
        const SoundFile& File() const { return *file; }
        // Up to `bytes`, fewer only at the end; -1 when the read fails.
        long long Read(void* buffer, size_t bytes);
        // To an offset from the start (SEEK_SET), the place (SEEK_CUR) or the end (SEEK_END);
        // the new place, or -1 before the start.
        long long Seek(long long offset, int whence);
        long long Tell() const { return at; }

    private:
        std::shared_ptr<const SoundFile> file;
        long long at = 0;
        std::vector<char> block;
        long long blockStart = 0;
    };

private:
    SoundFile(int fd, long long size) : fd(fd), size(size) {}
    int fd;
    long long size;
};
