// Sync tracks: what track:value() costs on a long track, and the longest a frame's share of the
// editor's connection takes while the editor accepts the connection and never answers.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "bench/benches.h"
#include "bench/benchresults.h"
#include "bench/benchsupport.h"
#include "script/bindings.h"
#include "script/luaengine.h"
#include "sync/syncconnection.h"
#include "sync/synctracks.h"

static constexpr int kKeys = 10000;
static constexpr int kRowsApart = 4;
static constexpr int kCalls = 200000;
// Long enough for a greeting that never comes to time out, the connection to be tried again
// and to time out once more.
static constexpr double kSilentEditorMs = SyncConnection::kStallMs * 2 + SyncConnection::kRetryMs + 1000;
static constexpr int kFrameMs = 10;

// Accepts every connection and keeps it open without a word, until stopped.
class SilentEditor {
public:
    SilentEditor()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 4) != 0
            || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        thread = std::thread([this] {
            while (!stop) {
                pollfd waiting{listener, POLLIN, 0};
                if (poll(&waiting, 1, 50) == 1)
                    accepted.push_back(accept(listener, nullptr, nullptr));
            }
        });
    }
    ~SilentEditor()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        for (int fd : accepted)
            close(fd);
        close(listener);
    }
    int port = 0;

private:
    int listener;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::vector<int> accepted;
};

int RunSyncBench(BenchResults& results)
{
    g_syncTracks.Clear();
    g_syncTracks.SetTempo(120, 8);
    std::vector<SyncKey> keys(kKeys);
    for (int i = 0; i < kKeys; ++i)
        keys[size_t(i)] = SyncKey{uint32_t(i * kRowsApart), float(i % 7), SyncInterpolation(i % 4)};
    g_syncTracks.At(g_syncTracks.Find("bench")).SetKeys(keys);
    InitLua();
    RegisterLuaBindings();
    RunLuaString("track = getTrack('bench')");
    // 16 rows a second: the times run over the whole track, 0 to 2,500 s.
    results.Add("sync.value_us", MicrosecondsACall("track:value(i * 0.0125)", kCalls));
    CloseLua();

    SilentEditor editor;
    if (editor.port == 0)
        return 1;
    SyncConnection connection("127.0.0.1", quint16(editor.port), g_syncTracks);
    int lines = 0;
    connection.onStatus = [&lines](const std::string&) { ++lines; };
    connection.Start();
    // Wall time: a wait on the network takes no CPU time.
    std::vector<double> durations;
    int frames = 0;
    for (const double start = NowMs(); NowMs() - start < kSilentEditorMs; ++frames) {
        const double frameStart = NowMs();
        QCoreApplication::processEvents();
        connection.FollowRow(frames * 0.16);
        durations.push_back(NowMs() - frameStart);
        QThread::msleep(kFrameMs);
    }
    results.Add("sync.silent_editor_longest_ms", *std::max_element(durations.begin(), durations.end()));
    results.Add("sync.silent_editor_median_ms", Median(durations));
    results.Add("sync.silent_editor_frames", frames);
    g_syncTracks.Clear();
    // The wait for a greeting must have run out at least once, or the run timed nothing of it.
    return lines > 0 ? 0 : 1;
}
