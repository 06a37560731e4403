// Script objects' source files: opened without blocking, regular files only, stamped first.
#include "gpu/sourcefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static constexpr long long kNanosecondsPerSecond = 1000000000;

const char kNotARegularFile[] = "not a regular file";

bool FileStamp::operator==(const FileStamp& other) const
{
    return exists == other.exists && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs;
}

static FileStamp StampOf(const struct stat& status)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modifiedNs = (long long)(status.st_mtim.tv_sec) * kNanosecondsPerSecond + status.st_mtim.tv_nsec;
    return stamp;
}

FileStamp StampFile(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return FileStamp();
    return StampOf(status);
}

int OpenSourceFile(const std::string& path, FileStamp& stamp, std::string& why)
{
    // O_NONBLOCK: opening a FIFO for reading waits for a writer otherwise. Reads of a regular
    // file are not affected by it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    struct stat status;
    const bool statted = ::fstat(fd, &status) == 0;
    if (!statted || !S_ISREG(status.st_mode)) {
        why = statted ? kNotARegularFile : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    stamp = StampOf(status);
    return fd;
}

bool ReadSourceFile(const std::string& path, std::size_t largest, const char* tooLarge, std::string& text,
                    FileStamp& stamp, std::string& why)
{
    const int fd = OpenSourceFile(path, stamp, why);
    if (fd < 0)
        return false;
    text.clear();
    char buffer[65536];
    ssize_t n = 0;
    while (text.size() <= largest && ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            text.append(buffer, std::size_t(n));
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        why = std::strerror(error);
        return false;
    }
    if (text.size() > largest) {
        why = tooLarge;
        return false;
    }
    return true;
}
