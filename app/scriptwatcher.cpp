#include "app/scriptwatcher.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QTimer>

#include "script/framecallback.h"
#include "script/luaengine.h"
#include "script/scenefiles.h"
#include "script/scriptfailures.h"

extern "C" {
#include <lua.h>
}

// A save counts as finished once its files have kept still this long: editors write in steps,
// and a file read halfway through would give an error that the saved script does not have.
static constexpr int kSettleMs = 100;
static constexpr qint64 kNanosecondsPerSecond = 1000000000;
static constexpr qint64 kNanosecondsPerMs = 1000000;

// The watcher whose start script is running; dofile records file names only while it is set,
// so files loaded from the console or from a frame are not watched.
static ScriptWatcher* g_loadingWatcher = nullptr;

// dofile(name, ...): notes the name, then calls the original dofile (upvalue 1) with all the
// arguments and returns all its results. No C++ object lives here: the call may raise.
static int RecordingDofile(lua_State* L)
{
    if (g_loadingWatcher && lua_type(L, 1) == LUA_TSTRING)
        g_loadingWatcher->RecordLoadedFile(lua_tostring(L, 1));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

bool ScriptWatcher::Stamp::operator==(const Stamp& other) const
{
    return exists == other.exists && inode == other.inode && size == other.size
        && modifiedNs == other.modifiedNs && contentHash == other.contentHash;
}

ScriptWatcher::ScriptWatcher(QObject* parent)
    : QObject(parent)
    , fileWatcher(new QFileSystemWatcher(this))
    , settleTimer(new QTimer(this))
    , startScript(QFileInfo(kStartScript).absoluteFilePath())
    , watchedFiles{startScript}
{
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(kSettleMs);
    connect(fileWatcher, &QFileSystemWatcher::fileChanged, this, &ScriptWatcher::OnFileChanged);
    connect(fileWatcher, &QFileSystemWatcher::directoryChanged, this,
            &ScriptWatcher::OnDirectoryChanged);
    connect(settleTimer, &QTimer::timeout, this, &ScriptWatcher::OnSettled);
    if (lua_State* L = g_luaState) {
        // Once per state: a later watcher on the same state finds the wrapper in place.
        lua_getglobal(L, "dofile");
        if (lua_tocfunction(L, -1) == RecordingDofile) {
            lua_pop(L, 1);
        } else {
            lua_pushcclosure(L, RecordingDofile, 1);
            lua_setglobal(L, "dofile");
        }
    }
    Watch();
    lastSeen = TakeStamps(false);
}

void ScriptWatcher::RunStartScript()
{
    loaded = TakeStamps(true);
    g_loadingWatcher = this;
    g_scriptFailures.Run(g_scriptFailures.load, kStartChunk);
    g_loadingWatcher = nullptr;
    RetryFrameCallbacks(true);
    Watch();
    lastSeen = TakeStamps(false);
}

void ScriptWatcher::RecordLoadedFile(const char* name) noexcept
{
    if (!*name)
        return;
    const QString path = QFileInfo(QFile::decodeName(name)).absoluteFilePath();
    if (!watchedFiles.contains(path))
        watchedFiles.append(path);
    // Taken just before dofile reads the file, so a save from now on differs from it.
    loaded.insert(path, TakeStamp(path, true));
}

ScriptWatcher::Stamp ScriptWatcher::TakeStamp(const QString& path, bool withContents)
{
    Stamp stamp;
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return stamp;
    stamp.exists = true;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modifiedNs =
        qint64(status.st_mtim.tv_sec) * kNanosecondsPerSecond + status.st_mtim.tv_nsec;
    // Two saves of the same size within one tick of the file system's clock look alike
    // otherwise.
    if (withContents) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            stamp.contentHash = qHash(file.readAll());
    }
    return stamp;
}

ScriptWatcher::Stamps ScriptWatcher::TakeStamps(bool withContents) const
{
    Stamps stamps;
    for (const QString& path : watchedFiles)
        stamps.insert(path, TakeStamp(path, withContents));
    return stamps;
}

// Runs after every load, which follows every save: a watch stays with the file it was put on,
// which a save by rename or by delete and create replaces, and a file that does not exist yet
// is seen through its folder.
void ScriptWatcher::Watch()
{
    for (const QString& path : watchedFiles) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!fileWatcher->directories().contains(folder))
            fileWatcher->addPath(folder);
        const Stamp stamp = TakeStamp(path, false);
        if (fileWatcher->files().contains(path)
            && (!stamp.exists || watchedInodes.value(path) != stamp.inode))
            fileWatcher->removePath(path);
        if (stamp.exists && !fileWatcher->files().contains(path) && fileWatcher->addPath(path))
            watchedInodes.insert(path, stamp.inode);
    }
}

void ScriptWatcher::OnFileChanged()
{
    lastSeen = TakeStamps(false);
    settleTimer->start();
}

// The folder changes too when the scene, or anything else, writes files of its own there. Only
// a change to a watched file postpones the reload, or a scene that writes a file every frame
// would never be reloaded.
void ScriptWatcher::OnDirectoryChanged()
{
    const Stamps now = TakeStamps(false);
    if (now == lastSeen)
        return;
    lastSeen = now;
    settleTimer->start();
}

// A timer slot runs from the event loop, and a frame or a console command runs from start to
// end within one slot of its own, so the reload falls between two frames.
void ScriptWatcher::OnSettled()
{
    const Stamps now = TakeStamps(false);
    if (now != lastSeen) {
        lastSeen = now;
        settleTimer->start();
        return;
    }
    // Without prod.lua a save is still under way (deleted, not yet written again) or the script
    // comes later; either way its arrival is a change of its own.
    if (!now.value(startScript).exists || TakeStamps(true) == loaded)
        return;
    RunStartScript();
}

void ScriptWatcher::ApplyWaitingReload()
{
    const Stamps now = TakeStamps(false);
    if (!now.value(startScript).exists)
        return;
    const qint64 settledBefore = QDateTime::currentMSecsSinceEpoch() * kNanosecondsPerMs - kSettleMs * kNanosecondsPerMs;
    for (const Stamp& stamp : now)
        if (stamp.exists && stamp.modifiedNs > settledBefore)
            return;
    if (TakeStamps(true) == loaded)
        return;
    settleTimer->stop();
    RunStartScript();
}
