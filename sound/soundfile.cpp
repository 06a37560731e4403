// A sound file open for reading at any place, by any number of decoders.
#include "sound/soundfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

// A read ahead, as a block of this many bytes.
constexpr size_t kBlockBytes = 65536;

namespace {

SoundFile::Cursor& CursorOf(SDL_RWops* ops)
{
    return *static_cast<SoundFile::Cursor*>(ops->hidden.unknown.data1);
}

Sint64 SDLCALL CursorSize(SDL_RWops* ops)
{
    return CursorOf(ops).File().Size();
}

Sint64 SDLCALL CursorSeek(SDL_RWops* ops, Sint64 offset, int whence)
{
    const long long at = CursorOf(ops).Seek(offset, whence == RW_SEEK_SET ? SEEK_SET : whence == RW_SEEK_CUR ? SEEK_CUR : SEEK_END);
    return at < 0 ? SDL_SetError("seek before the start of the file") : at;
}

size_t SDLCALL CursorRead(SDL_RWops* ops, void* buffer, size_t size, size_t count)
{
    SoundFile::Cursor& cursor = CursorOf(ops);
    if (size == 0 || count == 0)
        return 0;
    const long long start = cursor.Tell();
    const long long got = cursor.Read(buffer, size * count);
    if (got < 0) {
        SDL_SetError("cannot read the sound file");
        return 0;
    }
    // A part of an item read at the end counts as nothing, as with a C stream.
    const size_t whole = size_t(got) / size;
    cursor.Seek(start + (long long)(whole * size), SEEK_SET);
    return whole;
}

size_t SDLCALL CursorWrite(SDL_RWops*, const void*, size_t, size_t)
{
    SDL_SetError("the sound file is read-only");
    return 0;
}

int SDLCALL CursorClose(SDL_RWops* ops)
{
    delete &CursorOf(ops);
    SDL_FreeRW(ops);
    return 0;
}

// Copies all that `in` gives into `out`; errno's code, 0 on success.
int CopyAll(int in, int out)
{
    char block[65536];
    for (;;) {
        const ssize_t n = read(in, block, sizeof block);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = write(out, block + done, size_t(n - done));
            if (written < 0 && errno != EINTR)
                return errno;
            done += written > 0 ? written : 0;
        }
    }
}

} // namespace

std::shared_ptr<SoundFile> SoundFile::Open(const std::string& path, int& error)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        error = errno;
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    if (S_ISDIR(status.st_mode)) {
        close(fd);
        error = EISDIR;
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        std::FILE* copy = std::tmpfile();
        const int copyFd = copy ? dup(fileno(copy)) : -1;
        error = copyFd < 0 ? errno : CopyAll(fd, copyFd);
        if (copy)
            std::fclose(copy);
        close(fd);
        fd = copyFd;
        if (error || fstat(fd, &status) != 0) {
            error = error ? error : errno;
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
    }
    std::shared_ptr<SoundFile> file(new (std::nothrow) SoundFile(fd, status.st_size));
    if (!file) {
        close(fd);
        error = ENOMEM;
    }
    return file;
}

SoundFile::~SoundFile()
{
    close(fd);
}

long long SoundFile::ReadAt(void* buffer, size_t bytes, long long offset) const
{
    size_t done = 0;
    while (done < bytes && offset + (long long)(done) < size) {
        const ssize_t n = pread(fd, static_cast<char*>(buffer) + done, bytes - done, off_t(offset + (long long)(done)));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += size_t(n);
    }
    return (long long)(done);
}

SDL_RWops* SoundFile::NewRWops() const
{
    SDL_RWops* ops = SDL_AllocRW();
    if (!ops)
        return nullptr;
    ops->size = CursorSize;
    ops->seek = CursorSeek;
    ops->read = CursorRead;
    ops->write = CursorWrite;
    ops->close = CursorClose;
    ops->hidden.unknown.data1 = new Cursor(shared_from_this());
    return ops;
}

long long SoundFile::Cursor::Read(void* buffer, size_t bytes)
{
    // Large reads go straight to the file; small ones come from the block around the place.
    if (bytes >= kBlockBytes) {
        const long long got = file->ReadAt(buffer, bytes, at);
        at += std::max(0LL, got);
        return got;
    }
    const long long blockEnd = blockStart + (long long)(block.size());
    if (at < blockStart || at + (long long)(bytes) > blockEnd) {
        block.resize(kBlockBytes);
        const long long got = file->ReadAt(block.data(), kBlockBytes, at);
        block.resize(size_t(std::max(0LL, got)));
        blockStart = at;
        if (got < 0)
            return -1;
    }
    const size_t n = size_t(std::min<long long>((long long)(bytes), blockStart + (long long)(block.size()) - at));
    std::memcpy(buffer, block.data() + (at - blockStart), n);
    at += (long long)(n);
    return (long long)(n);
}

long long SoundFile::Cursor::Seek(long long offset, int whence)
{
    const long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? at : file->Size();
    if (base + offset < 0)
        return -1;
    at = base + offset;
    return at;
}
