#pragma once
// The files script objects are made from. A file is opened without blocking and refused unless
// it is a regular file (a FIFO, a device or /dev/stdin would hold the window for ever), and its
// stamp is taken from the file opened, before a byte is read: a save made during or after the
// read differs from it, so whoever compares stamps later sees that save as a change.

#include <cstddef>
#include <string>

// What a look at a file tells about it: a save changes at least one of these.
struct FileStamp {
    bool exists = false;
    unsigned long long inode = 0;
    long long size = 0;
    long long modifiedNs = 0;
    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// A file an object was made from, as it was when the object read it.
struct SourceFile {
    std::string path;
    FileStamp stamp;
};

// The reason OpenSourceFile gives for a FIFO, a device, a folder or a socket.
extern const char kNotARegularFile[];

// The file as it is now; it is not opened. A missing file gives exists false.
FileStamp StampFile(const std::string& path);

// A descriptor to read the file from, or -1 with the reason in why: the system's words
// ("No such file or directory") or "not a regular file". The caller closes it.
int OpenSourceFile(const std::string& path, FileStamp& stamp, std::string& why);

// The whole file, when it holds at most largest bytes; false with the reason otherwise, which
// for a larger file is tooLarge.
bool ReadSourceFile(const std::string& path, std::size_t largest, const char* tooLarge, std::string& text,
                    FileStamp& stamp, std::string& why);
