#pragma once
// The demo's side of the sync editor's connection. It connects to the editor's port, greets,
// asks for every track and applies what the editor sends, all from the event loop: no frame
// ever waits on the network. While no editor answers it tries again every 2 s; input that is
// not the editor's protocol drops the connection, keeping the keys, and it tries again later.

#include <cstdint>
#include <functional>
#include <string>

#include <QObject>
#include <QString>

#include "sync/syncmessages.h"

class QTcpSocket;
class QTimer;
class SyncTracks;

class SyncConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 2000;
    // A greeting or a message begun and not finished within this long drops the connection.
    static constexpr int kStallMs = 5000;

    SyncConnection(const QString& host, quint16 port, SyncTracks& tracks, QObject* parent = nullptr);
    ~SyncConnection() override;

    // The first attempt, at once.
    void Start();
    // Greeted by the editor, and so the tracks' keys are its keys.
    bool Connected() const;
    // Tells the editor the row the music is at, when its whole row differs from the last row
    // either side named.
    void FollowRow(double row);
    // "HOST:PORT", as the lines name the editor.
    QString Address() const;

    // What the editor asks of the music: a jump to a row, a pause (true) or play (false).
    std::function<void(uint32_t row)> onSetRow;
    std::function<void(bool pause)> onPause;
    // One line for each connection made or lost, and for each save of the track files.
    std::function<void(const std::string& line)> onStatus;

private:
    void TryConnect();
    void OnConnected();
    void OnReadyRead();
    void OnDisconnected();
    void OnGreeted();
    bool Apply(const SyncMessage& message, std::string& error);
    void AskForTrack(int index);
    void Send(const std::string& bytes);
    // Closes the connection and tries again later; bad: for input that is not the protocol.
    void Drop(const std::string& why, bool bad = true);
    void Report(const std::string& line);

    QString host;
    quint16 port;
    SyncTracks& tracks;
    QTcpSocket* socket;
    QTimer* retryTimer;
    QTimer* stallTimer;
    SyncMessageReader reader;
    // The socket reached the peer; the peer may not have greeted yet.
    bool reached = false;
    // The tracks asked for on this connection, which the editor numbers from 0.
    int tracksAsked = 0;
    int64_t lastRow = -1;
    // A problem is said once while it repeats on every attempt (a port that answers but is
    // not the editor's).
    std::string lastProblem;
};
