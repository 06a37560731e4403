#pragma once
// Runs prod.lua at start-up and again whenever it, or a file it loaded with dofile, changes on
// disk, once the files have been still for a moment.

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

class ScriptWatcher : public QObject {
    Q_OBJECT
public:
    // Takes over the global dofile of the Lua state so that the files prod.lua loads are known.
    explicit ScriptWatcher(QObject* parent = nullptr);

    // Runs prod.lua in the shared state, as at start-up, and watches every file it loaded.
    void RunStartScript();

    // After an interrupted chunk: a save that waited behind it is loaded at once, if its files
    // have been still for a moment, rather than once the event loop has seen it settle.
    void ApplyWaitingReload();

    // Called by dofile while RunStartScript runs: the file named is watched from now on.
    void RecordLoadedFile(const char* name) noexcept;

private:
    // What a look at a file tells about it; the content hash is 0 unless asked for.
    struct Stamp {
        bool exists = false;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        size_t contentHash = 0;
        bool operator==(const Stamp& other) const;
    };
    using Stamps = QMap<QString, Stamp>;

    static Stamp TakeStamp(const QString& path, bool withContents);
    Stamps TakeStamps(bool withContents) const;
    void Watch();
    void OnFileChanged();
    void OnDirectoryChanged();
    void OnSettled();

    QFileSystemWatcher* fileWatcher;
    QTimer* settleTimer;
    QString startScript;
    QStringList watchedFiles;
    // The inode each file had when its watch was added: a save by rename leaves the watch on
    // the old file, so a new inode means the watch must be added again.
    QMap<QString, quint64> watchedInodes;
    Stamps lastSeen;
    Stamps loaded;
};
