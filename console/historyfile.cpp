#include "console/historyfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>

static const char* const kPathVariable = "QUILLMERE_HISTORY";
static const char* const kStateVariable = "XDG_STATE_HOME";
static const char* const kStateDefault = "/.local/state";
static const char* const kFileName = "/quillmere/history";
// The shortened copy is written beside the file under a name of this program's own: where the
// file system has no locks, two programs may shorten the file at once.
static const char* const kCompactedSuffix = ".new-XXXXXX";
// The file is shortened to maxEntries once it holds half as many again.
static constexpr int kGrowthPercent = 150;
// Commands can hold passwords: the file is the user's alone.
static constexpr mode_t kFileMode = 0600;
static constexpr mode_t kFolderMode = 0700;
// A file replaced between our open and our lock is opened again; this often at most.
static constexpr int kOpenAttempts = 100;
// In errno: a FIFO, a device or a socket, which could block the program or never end.
static constexpr int kNotARegularFile = -1;

QString HistoryFile::DefaultPath()
{
    if (qEnvironmentVariableIsSet(kPathVariable))
        return qEnvironmentVariable(kPathVariable);
    QString state = qEnvironmentVariable(kStateVariable);
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QLatin1String(kStateDefault);
    return state + QLatin1String(kFileName);
}

HistoryFile::HistoryFile(const QString& path, int maxEntries) : path(path), maxEntries(maxEntries) {}

static void Report(const QString& line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

static QString ErrorText(int error)
{
    return error == kNotARegularFile ? QString("not a regular file") : QString::fromLocal8Bit(std::strerror(error));
}

static QByteArray Encode(const QString& entry)
{
    QByteArray line;
    for (const char c : entry.toUtf8()) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    return line + '\n';
}

// False for a line with an escape we never write, or that is not UTF-8.
static bool Decode(const QByteArray& line, QString& entry)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < line.size(); ++i) {
        char c = line.at(i);
        if (c == '\\') {
            const char escaped = ++i < line.size() ? line.at(i) : '\0';
            if (escaped == 'n')
                c = '\n';
            else if (escaped == 'r')
                c = '\r';
            else if (escaped == '\\')
                c = '\\';
            else
                return false;
        }
        bytes += c;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    entry = utf8.decode(bytes);
    return !utf8.hasError();
}

// The file the path names, opened and locked. A compaction may rename a new file over the path
// between the open and the lock; then the old one is let go and the new one opened. Where the
// file system has no locks the file is used without. -1 with errno set on failure. The open does
// not wait for a writer to a FIFO; a directory is left to fail at its read or write.
static int OpenLocked(const QByteArray& path, int flags, int lock)
{
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        const int fd = ::open(path.constData(), flags | O_CLOEXEC | O_NONBLOCK, kFileMode);
        if (fd < 0)
            return -1;
        struct stat opened, named;
        if (::fstat(fd, &opened) == 0 && !S_ISREG(opened.st_mode) && !S_ISDIR(opened.st_mode)) {
            ::close(fd);
            errno = kNotARegularFile;
            return -1;
        }
        if (::flock(fd, lock) != 0 || ::fstat(fd, &opened) != 0)
            return fd;
        if (::stat(path.constData(), &named) == 0 && named.st_ino == opened.st_ino
            && named.st_dev == opened.st_dev)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

static bool ReadAll(int fd, QByteArray& data)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0)
            data.append(buffer, n);
    }
}

static bool WriteAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0)
            done += n;
    }
    return true;
}

// Creates the folders of the path that are missing, each the user's alone; those that exist stay
// as they are.
static bool MakeFolders(const QString& folder)
{
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    QString made;
    for (const QString& part : absolute.split('/', Qt::SkipEmptyParts)) {
        made += '/' + part;
        if (::mkdir(QFile::encodeName(made).constData(), kFolderMode) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(absolute).isDir();
}

// A rename is part of its folder, which is written out for it to outlast a crash.
static bool SyncFolder(const QByteArray& file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(file)).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced;
}

// The file's lines; a last line without its line feed counts as a line too.
static QList<QByteArray> Records(const QByteArray& data)
{
    QList<QByteArray> records = data.split('\n');
    if (!records.isEmpty() && records.last().isEmpty())
        records.removeLast();
    return records;
}

QStringList HistoryFile::Load()
{
    if (path.isEmpty())
        return {};
    QByteArray data;
    const int fd = OpenLocked(QFile::encodeName(path), O_RDONLY, LOCK_SH);
    const bool read = fd >= 0 && ReadAll(fd, data);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!read) {
        if (error != ENOENT)
            Report(QString("history: cannot read %1: %2").arg(path, ErrorText(error)));
        return {};
    }

    const QList<QByteArray> records = Records(data);
    entriesInFile = int(records.size());
    QStringList entries;
    int unreadable = 0;
    for (const QByteArray& record : records) {
        QString entry;
        if (!Decode(record, entry))
            ++unreadable;
        else if (!entry.isEmpty() && (entries.isEmpty() || entries.last() != entry))
            entries.append(entry);
    }
    if (unreadable > 0)
        Report(QString("history: %1: %2 unreadable %3 skipped")
                   .arg(path)
                   .arg(unreadable)
                   .arg(unreadable == 1 ? "entry" : "entries"));
    return entries.mid(qMax(qsizetype(0), entries.size() - maxEntries));
}

void HistoryFile::Append(const QString& entry)
{
    if (path.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_WRONLY | O_APPEND | O_CREAT;
    int fd = OpenLocked(name, flags, LOCK_EX);
    if (fd < 0 && errno == ENOENT && MakeFolders(QFileInfo(path).absolutePath()))
        fd = OpenLocked(name, flags, LOCK_EX);
    const off_t before = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : 0;
    const bool written = fd >= 0 && WriteAll(fd, Encode(entry));
    const int error = errno;
    if (fd >= 0 && !written) {
        // A write cut short (a full disk) leaves no part of the entry for the next one to join.
        [[maybe_unused]] const int truncated = ::ftruncate(fd, before);
    }
    if (fd >= 0)
        ::close(fd);
    if (!written)
        ReportWriteFailure(error);
    else if (++entriesInFile * 100 > maxEntries * kGrowthPercent)
        Compact();
}

// The newest maxEntries lines, unreadable ones as they stand, are written to a new file that is
// then renamed over the old one: at every moment the path names a whole file.
void HistoryFile::Compact()
{
    // Through a symbolic link the file it names is shortened, and the link stays.
    const QString target = QFileInfo(path).canonicalFilePath();
    const QByteArray name = QFile::encodeName(target.isEmpty() ? path : target);
    QByteArray compacted = name + kCompactedSuffix;
    const int fd = OpenLocked(name, O_RDONLY, LOCK_EX);
    QByteArray data;
    if (fd < 0 || !ReadAll(fd, data)) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        ReportWriteFailure(error);
        return;
    }
    const QList<QByteArray> records = Records(data);
    entriesInFile = int(qMin(records.size(), qsizetype(maxEntries)));
    bool done = records.size() <= maxEntries;
    int error = 0;
    if (!done) {
        QByteArray kept;
        for (qsizetype i = records.size() - maxEntries; i < records.size(); ++i)
            kept += records.at(i) + '\n';
        // Created anew with mode 0600, never one that is there already.
        const int out = ::mkostemp(compacted.data(), O_CLOEXEC);
        done = out >= 0 && WriteAll(out, kept) && ::fsync(out) == 0;
        if (out >= 0)
            ::close(out);
        done = done && ::rename(compacted.constData(), name.constData()) == 0;
        error = errno;
        if (out >= 0 && !done)
            ::unlink(compacted.constData());
        if (done && !SyncFolder(name)) {
            done = false;
            error = errno;
        }
    }
    // Closing lets go of the lock, only now that the new file is in place.
    ::close(fd);
    if (!done)
        ReportWriteFailure(error);
}

void HistoryFile::ReportWriteFailure(int error)
{
    if (writeFailureReported)
        return;
    writeFailureReported = true;
    Report(QString("history: cannot write %1: %2").arg(path, ErrorText(error)));
}
