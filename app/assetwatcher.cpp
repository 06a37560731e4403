// Reload on save for shader and texture files.
#include "app/assetwatcher.h"

#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include "gpu/scriptresource.h"

// As for prod.lua: a save counts once its file has kept still this long.
static constexpr int kSettleMs = 100;
static constexpr qint64 kNanosecondsPerSecond = 1000000000;

bool AssetWatcher::Stamp::operator!=(const Stamp& other) const
{
    return size != other.size || modifiedNs != other.modifiedNs || inode != other.inode;
}

AssetWatcher::AssetWatcher(QObject* parent)
    : QObject(parent)
    , fileWatcher(new QFileSystemWatcher(this))
    , settleTimer(new QTimer(this))
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(kSettleMs);
    connect(fileWatcher, &QFileSystemWatcher::fileChanged, this, &AssetWatcher::OnChange);
    connect(fileWatcher, &QFileSystemWatcher::directoryChanged, this, &AssetWatcher::OnChange);
    connect(settleTimer, &QTimer::timeout, this, &AssetWatcher::OnSettled);
    SetScriptFileHook([this](const std::string& path) { Watch(QFile::decodeName(path.c_str())); });
}

AssetWatcher::~AssetWatcher()
{
    SetScriptFileHook(nullptr);
}

AssetWatcher::Stamp AssetWatcher::TakeStamp(const QString& path)
{
    Stamp stamp;
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return stamp;
    stamp.size = status.st_size;
    stamp.modifiedNs = qint64(status.st_mtim.tv_sec) * kNanosecondsPerSecond + status.st_mtim.tv_nsec;
    stamp.inode = status.st_ino;
    return stamp;
}

// The folder is watched too: a file saved by rename, or deleted and written again, is seen there.
void AssetWatcher::Watch(const QString& path)
{
    if (!loaded.contains(path))
        loaded.insert(path, TakeStamp(path));
    const QString folder = QFileInfo(path).absolutePath();
    if (!fileWatcher->directories().contains(folder))
        fileWatcher->addPath(folder);
    if (!fileWatcher->files().contains(path))
        fileWatcher->addPath(path);
}

void AssetWatcher::OnChange()
{
    settleTimer->start();
}

// Between two frames, from the event loop; a file still missing (a save under way) waits for its
// arrival, which is a change of its own.
void AssetWatcher::OnSettled()
{
    for (auto it = loaded.begin(); it != loaded.end(); ++it) {
        const Stamp now = TakeStamp(it.key());
        if (now.size < 0 || !(now != it.value()))
            continue;
        it.value() = now;
        if (fileWatcher->files().contains(it.key()))
            fileWatcher->removePath(it.key());
        fileWatcher->addPath(it.key());
        MarkScriptFileChanged(QFile::encodeName(it.key()).toStdString());
        emit FileChanged(it.key());
    }
}
