#include "sync/syncconnection.h"

#include <algorithm>
#include <cmath>

#include <QTcpSocket>
#include <QTimer>

#include "sync/synctracks.h"

// Far more than the demo ever sends between two reads: an editor that reads nothing.
static constexpr qint64 kMostUnsentBytes = qint64(1) << 20;
static constexpr double kLargestRow = 4294967295.0;

SyncConnection::SyncConnection(const QString& host, quint16 port, SyncTracks& tracks, QObject* parent)
    : QObject(parent)
    , host(host)
    , port(port)
    , tracks(tracks)
    , socket(new QTcpSocket(this))
    , retryTimer(new QTimer(this))
    , stallTimer(new QTimer(this))
{
    retryTimer->setSingleShot(true);
    retryTimer->setInterval(kRetryMs);
    stallTimer->setSingleShot(true);
    stallTimer->setInterval(kStallMs);
    connect(retryTimer, &QTimer::timeout, this, &SyncConnection::TryConnect);
    connect(stallTimer, &QTimer::timeout, this, [this] {
        Drop(reader.Greeted() ? "a message stopped short for " + std::to_string(kStallMs / 1000) + " s"
                              : "it did not greet as the sync editor does");
    });
    connect(socket, &QTcpSocket::connected, this, &SyncConnection::OnConnected);
    connect(socket, &QTcpSocket::readyRead, this, &SyncConnection::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &SyncConnection::OnDisconnected);
    // A connection that fails is tried again when the attempt's 2 s are up; one that was made
    // ends in OnDisconnected.
    connect(socket, &QTcpSocket::errorOccurred, this, [this] {
        if (!reached && !retryTimer->isActive())
            retryTimer->start();
    });
}

SyncConnection::~SyncConnection()
{
    // Closed quietly: the tracks keep what they have, and nothing is told of it.
    reached = false;
    socket->abort();
    if (tracks.Live()) {
        tracks.SetLive(false);
        tracks.onNewTrack = nullptr;
    }
}

void SyncConnection::Start()
{
    TryConnect();
}

bool SyncConnection::Connected() const
{
    return reached && reader.Greeted();
}

QString SyncConnection::Address() const
{
    return (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(port);
}

// An attempt that has not reached the editor when the retry timer runs out (a host that drops
// what is sent to it) is given up for the next one.
void SyncConnection::TryConnect()
{
    reached = false;
    socket->abort();
    reader.Reset();
    retryTimer->start();
    socket->connectToHost(host, port);
}

void SyncConnection::OnConnected()
{
    retryTimer->stop();
    reached = true;
    // The rows the demo sends go out as the music reaches them, not when a buffer fills.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->write(kSyncDemoGreeting, qint64(sizeof kSyncDemoGreeting - 1));
    stallTimer->start();
}

void SyncConnection::OnGreeted()
{
    lastProblem.clear();
    tracksAsked = 0;
    lastRow = -1;
    tracks.SetLive(true);
    tracks.onNewTrack = [this](int index) { AskForTrack(index); };
    Report("sync: connected to the editor at " + Address().toStdString());
    for (int i = 0; i < tracks.Count(); ++i)
        AskForTrack(i);
}

void SyncConnection::AskForTrack(int index)
{
    Send(GetTrackMessage(tracks.At(index).Name()));
    tracksAsked = index + 1;
}

void SyncConnection::OnReadyRead()
{
    if (!reached)
        return;
    const QByteArray bytes = socket->readAll();
    reader.Append(bytes.constData(), size_t(bytes.size()));
    SyncMessage message;
    std::string error;
    for (;;) {
        const bool wasGreeted = reader.Greeted();
        const SyncMessageReader::Result result = reader.Next(message, error);
        if (!wasGreeted && reader.Greeted())
            OnGreeted();
        if (result == SyncMessageReader::Result::NeedMore)
            break;
        if (result == SyncMessageReader::Result::Bad || !Apply(message, error)) {
            Drop(error);
            return;
        }
        // What a message set off (a save, a jump) may have dropped the connection.
        if (!reached)
            return;
    }
    if (!reader.Greeted() || reader.Pending())
        stallTimer->start();
    else
        stallTimer->stop();
}

bool SyncConnection::Apply(const SyncMessage& message, std::string& error)
{
    const bool forTrack = message.command == SyncCommand::SetKey || message.command == SyncCommand::DeleteKey;
    if (forTrack && message.track >= uint32_t(tracksAsked)) {
        error = "a key for the track " + std::to_string(message.track) + ", which it was never asked for";
        return false;
    }
    switch (message.command) {
    case SyncCommand::SetKey:
        tracks.At(int(message.track)).SetKey(message.key);
        break;
    case SyncCommand::DeleteKey:
        tracks.At(int(message.track)).DeleteKey(message.key.row);
        break;
    case SyncCommand::SetRow:
        lastRow = message.key.row;
        if (onSetRow)
            onSetRow(message.key.row);
        break;
    case SyncCommand::Pause:
        if (onPause)
            onPause(message.pause);
        break;
    case SyncCommand::SaveTracks: {
        std::string why;
        Report(tracks.SaveFiles(why) ? "sync: the editor saved " + std::to_string(tracks.Count()) + " track files"
                                     : "sync: cannot save the track files: " + why);
        break;
    }
    case SyncCommand::GetTrack:
        break;
    }
    return true;
}

void SyncConnection::FollowRow(double row)
{
    if (!Connected())
        return;
    const double floor = std::floor(row);
    const int64_t whole = floor >= 0 ? int64_t(std::min(floor, kLargestRow)) : 0;
    if (whole == lastRow)
        return;
    lastRow = whole;
    Send(SetRowMessage(uint32_t(whole)));
}

void SyncConnection::Send(const std::string& bytes)
{
    if (socket->bytesToWrite() > kMostUnsentBytes) {
        Drop("it reads nothing of what is sent to it");
        return;
    }
    socket->write(bytes.data(), qint64(bytes.size()));
}

void SyncConnection::OnDisconnected()
{
    if (!reached)
        return;
    // What came with the close is still to be read.
    if (socket->bytesAvailable() > 0)
        OnReadyRead();
    if (!reached)
        return;
    Drop(!reader.Greeted() ? "it closed the connection before it greeted"
         : reader.Pending() ? "it closed the connection in the middle of a message"
                            : "it closed the connection",
         !reader.Greeted() || reader.Pending());
}

void SyncConnection::Drop(const std::string& why, bool bad)
{
    const bool wasConnected = Connected();
    reached = false;
    stallTimer->stop();
    socket->abort();
    if (wasConnected) {
        tracks.SetLive(false);
        tracks.onNewTrack = nullptr;
    }
    tracksAsked = 0;
    reader.Reset();
    const std::string line = std::string(wasConnected && !bad ? "sync: lost the editor at "
                                                              : "sync: dropped the connection to the editor at ")
        + Address().toStdString() + ": " + why;
    if (wasConnected || why != lastProblem)
        Report(line);
    lastProblem = why;
    retryTimer->start();
}

void SyncConnection::Report(const std::string& line)
{
    if (onStatus)
        onStatus(line);
}
