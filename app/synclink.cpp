#include "app/synclink.h"

#include <algorithm>
#include <cstdio>

#include <QFile>
#include <QTimer>

#include "app/scenewatcher.h"
#include "script/musicclock.h"
#include "sync/syncconnection.h"
#include "sync/synctracks.h"
#include "world/statusstrip.h"

static std::string g_syncHost = "127.0.0.1";
static int g_syncPort = 1338;

void ChooseSyncEditor(const std::string& host, int port)
{
    g_syncHost = host;
    g_syncPort = port;
}

// Where the editor's cursor stands; past the music's end, where F7 stops.
static void JumpMusicToRow(uint32_t row)
{
    double seconds = g_syncTracks.TimeOfRow(row);
    if (!g_musicClock || seconds < 0)
        return;
    const double length = g_musicClock->Length();
    if (length > 0 && seconds >= length)
        seconds = std::max(0.0, length - kMusicEndMarginSeconds);
    SeekMusic(seconds);
}

SyncLink::SyncLink(SceneWatcher* watcher, QTimer* frameTimer, QObject* parent)
    : QObject(parent)
{
    g_syncTracks.onFileRead = [watcher](const std::string& path) { watcher->Watch(QFile::decodeName(path.c_str())); };
    connect(watcher, &SceneWatcher::FileChanged, this,
            [](const QString& path) { g_syncTracks.FileChanged(QFile::encodeName(path).toStdString()); });
    if (g_syncHost.empty())
        return;
    connection = new SyncConnection(QString::fromStdString(g_syncHost), quint16(g_syncPort), g_syncTracks, this);
    connection->onSetRow = JumpMusicToRow;
    connection->onPause = [](bool pause) {
        if (g_musicClock)
            g_musicClock->SetPaused(pause);
    };
    connection->onStatus = [this](const std::string& line) { OnStatus(line); };
    // After the frame: the row the frame showed.
    connect(frameTimer, &QTimer::timeout, this, &SyncLink::OnFrame);
    connection->Start();
}

SyncLink::~SyncLink()
{
    g_syncTracks.onFileRead = nullptr;
}

void SyncLink::OnFrame()
{
    connection->FollowRow(g_syncTracks.Row(g_musicClock ? g_musicClock->Time() : 0));
}

void SyncLink::OnStatus(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    StatusStrip::ShowNotice(QString::fromStdString(line));
}
