// Reload on save for prod.lua, the files it loads, and the files of the script's GPU objects.
#include "app/scenewatcher.h"

#include <functional>
#include <string>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include "gpu/scriptgpu.h"
#include "script/framecallback.h"
#include "script/luaengine.h"
#include "script/scenefiles.h"
#include "script/scriptfailures.h"

extern "C" {
#include <lua.h>
}

// A save counts as finished once its file has kept still this long: editors write in steps,
// and a file read halfway through would give an error that the saved file does not have.
static constexpr int kSettleMs = 100;
static constexpr qint64 kNanosecondsPerMs = 1000000;
// A script file larger than this is compared by its stamp alone.
static constexpr std::size_t kLargestHashedFile = std::size_t(64) << 20;

// The watcher whose start script is running; dofile records file names only while it is set,
// so files loaded from the console or from a frame are not watched.
static SceneWatcher* g_loadingWatcher = nullptr;

static std::string Encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

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

bool SceneWatcher::Stamp::operator==(const Stamp& other) const
{
    return file == other.file && contentHash == other.contentHash;
}

SceneWatcher::SceneWatcher(ScriptGpu* gpu, QObject* parent)
    : QObject(parent)
    , gpu(gpu)
    , fileWatcher(new QFileSystemWatcher(this))
    , settleTimer(new QTimer(this))
    , startScript(QFileInfo(kStartScript).absoluteFilePath())
{
    settleTimer->setSingleShot(true);
    connect(fileWatcher, &QFileSystemWatcher::fileChanged, this, &SceneWatcher::OnChange);
    connect(fileWatcher, &QFileSystemWatcher::directoryChanged, this, &SceneWatcher::OnChange);
    connect(settleTimer, &QTimer::timeout, this, &SceneWatcher::OnSettleTimer);
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
    Watched& start = files[startScript];
    start.script = true;
    KeepWatching(startScript);
    start.lastSeen = TakeStamp(startScript, false);
}

void SceneWatcher::RunStartScript()
{
    for (auto it = files.begin(); it != files.end(); ++it)
        if (it->script)
            it->loaded = TakeStamp(it.key(), true);
    g_loadingWatcher = this;
    g_scriptFailures.Run(g_scriptFailures.load, kStartChunk);
    g_loadingWatcher = nullptr;
    RetryFrameCallbacks(true);
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (!it->script)
            continue;
        KeepWatching(it.key());
        it->lastSeen = TakeStamp(it.key(), false);
        it->stillAt = 0;
    }
    FollowObjectFiles();
}

void SceneWatcher::RecordLoadedFile(const char* name) noexcept
{
    if (!*name)
        return;
    const QString path = QFileInfo(QFile::decodeName(name)).absoluteFilePath();
    Watched& file = files[path];
    file.script = true;
    // Taken just before dofile reads the file, so a save from now on differs from it.
    file.loaded = TakeStamp(path, true);
}

void SceneWatcher::FollowObjectFiles()
{
    if (!gpu)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (; objectFiles < gpu->Files().size(); ++objectFiles) {
        const SourceFile& source = gpu->Files()[objectFiles];
        const QString path = QFile::decodeName(source.path.c_str());
        if (files.contains(path))
            continue;
        Watched& file = files[path];
        file.loaded.file = source.stamp;
        file.lastSeen = TakeStamp(path, false);
        KeepWatching(path);
        // Saved after the object read it and before it was watched: no signal tells of that.
        if (file.lastSeen != file.loaded)
            file.stillAt = now + kSettleMs;
    }
    ArmSettleTimer();
}

void SceneWatcher::Watch(const QString& path)
{
    if (files.contains(path))
        return;
    Watched& file = files[path];
    file.loaded = file.lastSeen = TakeStamp(path, false);
    KeepWatching(path);
}

SceneWatcher::Stamp SceneWatcher::TakeStamp(const QString& path, bool withContents)
{
    Stamp stamp;
    stamp.file = StampFile(Encoded(path));
    // Two saves of the same size within one tick of the file system's clock look alike
    // otherwise.
    std::string text, why;
    FileStamp read;
    if (withContents && stamp.file.exists && ReadSourceFile(Encoded(path), kLargestHashedFile, "", text, read, why))
        stamp.contentHash = std::hash<std::string>()(text);
    return stamp;
}

// Whether a save of prod.lua or of a file it loaded waits to be run.
bool SceneWatcher::ScriptsChanged() const
{
    if (!TakeStamp(startScript, false).file.exists)
        return false;
    for (auto it = files.begin(); it != files.end(); ++it)
        if (it->script && TakeStamp(it.key(), true) != it->loaded)
            return true;
    return false;
}

// A watch stays with the file it was put on, which a save by rename or by delete and create
// replaces, and a file that does not exist yet is seen through its folder.
void SceneWatcher::KeepWatching(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!fileWatcher->directories().contains(folder))
        fileWatcher->addPath(folder);
    const FileStamp stamp = StampFile(Encoded(path));
    if (fileWatcher->files().contains(path) && (!stamp.exists || watchedInodes.value(path) != stamp.inode))
        fileWatcher->removePath(path);
    if (stamp.exists && !fileWatcher->files().contains(path) && fileWatcher->addPath(path))
        watchedInodes.insert(path, stamp.inode);
}

// A file and a folder tell of changes alike. The folder changes too when the scene, or anything
// else, writes files of its own there: only a watched file that changed starts settling again.
void SceneWatcher::OnChange()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto it = files.begin(); it != files.end(); ++it) {
        const Stamp stamp = TakeStamp(it.key(), false);
        if (stamp != it->lastSeen) {
            it->lastSeen = stamp;
            it->stillAt = now + kSettleMs;
        }
    }
    ArmSettleTimer();
}

void SceneWatcher::ArmSettleTimer()
{
    qint64 first = 0;
    for (const Watched& file : files)
        if (file.stillAt && (!first || file.stillAt < first))
            first = file.stillAt;
    if (!first) {
        settleTimer->stop();
        return;
    }
    settleTimer->start(int(std::max<qint64>(0, first - QDateTime::currentMSecsSinceEpoch())));
}

// A timer slot runs from the event loop, and a frame or a console command runs from start to
// end within one slot of its own, so whatever a settled save sets off falls between two frames.
// prod.lua runs again once none of its files is still settling.
void SceneWatcher::OnSettleTimer()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    bool scriptSettled = false;
    bool scriptSettling = false;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it->stillAt && it->stillAt <= now) {
            const Stamp stamp = TakeStamp(it.key(), false);
            if (stamp != it->lastSeen) {
                it->lastSeen = stamp;
                it->stillAt = now + kSettleMs;
            } else {
                it->stillAt = 0;
                Settled(it.key(), *it, scriptSettled);
            }
        }
        scriptSettling = scriptSettling || (it->script && it->stillAt);
    }
    if (scriptSettled && !scriptSettling && ScriptsChanged())
        RunStartScript();
    ArmSettleTimer();
}

// A file still missing (a save under way) waits for its arrival, which is a change of its own.
void SceneWatcher::Settled(const QString& path, Watched& file, bool& scriptSettled)
{
    if (file.script) {
        scriptSettled = true;
        return;
    }
    if (!file.lastSeen.file.exists || file.lastSeen == file.loaded)
        return;
    // Taken before the objects read the file again, at the next frame start.
    file.loaded = file.lastSeen;
    KeepWatching(path);
    if (gpu)
        gpu->MarkFileChanged(Encoded(path));
    emit FileChanged(path);
}

void SceneWatcher::ApplyWaitingReload()
{
    const qint64 settledBefore = (QDateTime::currentMSecsSinceEpoch() - kSettleMs) * kNanosecondsPerMs;
    for (auto it = files.begin(); it != files.end(); ++it) {
        const FileStamp stamp = StampFile(Encoded(it.key()));
        if (it->script && stamp.exists && stamp.modifiedNs > settledBefore)
            return;
    }
    if (!ScriptsChanged())
        return;
    RunStartScript();
    ArmSettleTimer();
}
