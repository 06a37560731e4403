#pragma once
// Watches every file of the scene. prod.lua and the files it loaded with dofile run prod.lua
// again when saved; the files the script's shaders and textures were made from are read again
// by those objects at the next frame start. A save counts once its file has kept still for a
// moment, each file on its own: a change to anything else in the folder (a scene that writes
// files of its own every frame) holds nothing off. A file's stamp is the one taken before it
// was read, so a save made while or soon after it was read is seen as a change too.

#include <QMap>
#include <QObject>
#include <QString>

#include "gpu/sourcefile.h"

class QFileSystemWatcher;
class QTimer;
class ScriptGpu;

class SceneWatcher : public QObject {
    Q_OBJECT
public:
    // Takes over the global dofile of the Lua state so that the files prod.lua loads are known,
    // and follows the files gpu's objects are made from.
    explicit SceneWatcher(ScriptGpu* gpu, QObject* parent = nullptr);

    // Runs prod.lua in the shared state, as at start-up, and watches every file it loaded.
    void RunStartScript();

    // After an interrupted chunk: a save that waited behind it is loaded at once, if its files
    // have been still for a moment, rather than once the event loop has seen it settle.
    void ApplyWaitingReload();

    // Called by dofile while RunStartScript runs: the file named is watched from now on.
    void RecordLoadedFile(const char* name) noexcept;

    // Watches the files objects were made from since the last call: the window calls it after
    // every frame, where scripts make objects.
    void FollowObjectFiles();

    // Watches a file something else has just read (a sync track's), as it is now.
    void Watch(const QString& path);

signals:
    // A file other than prod.lua and those it loaded has been saved, once the save has
    // settled; after the script objects made from it are marked.
    void FileChanged(const QString& path);

private:
    // What a look at a file tells about it; the content hash is 0 unless asked for.
    struct Stamp {
        FileStamp file;
        size_t contentHash = 0;
        bool operator==(const Stamp& other) const;
        bool operator!=(const Stamp& other) const { return !(*this == other); }
    };
    struct Watched {
        bool script = false;  // prod.lua or a file it loaded; otherwise an object's file
        Stamp loaded;         // as it was read, the hash only for script files
        Stamp lastSeen;
        qint64 stillAt = 0;   // ms since the epoch; 0 while it is not changing
    };

    static Stamp TakeStamp(const QString& path, bool withContents);
    bool ScriptsChanged() const;
    void KeepWatching(const QString& path);
    void OnChange();
    void OnSettleTimer();
    void ArmSettleTimer();
    void Settled(const QString& path, Watched& file, bool& scriptSettled);

    ScriptGpu* gpu;
    QFileSystemWatcher* fileWatcher;
    QTimer* settleTimer;
    QString startScript;
    QMap<QString, Watched> files;
    // The inode each file had when its watch was added: a save by rename leaves the watch on
    // the old file, so a new inode means the watch must be added again.
    QMap<QString, quint64> watchedInodes;
    // How many of gpu's files are followed.
    size_t objectFiles = 0;
};
