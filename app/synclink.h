#pragma once
// The window's side of the sync tracks: the connection to the sync editor (unless --sync off),
// the music following the editor's row and pause, the editor told the music's row each frame,
// and the track files (or the editor's document) read again when saved while no editor is
// connected. A capture has none of this: its tracks read the files once.

#include <QObject>
#include <QString>

#include <string>

class SceneWatcher;
class QTimer;
class SyncConnection;

// The editor StartSyncLink connects to; an empty host for none. Before the main window is built.
void ChooseSyncEditor(const std::string& host, int port);

class SyncLink : public QObject {
    Q_OBJECT
public:
    // Before the start script: the files it makes the tracks read are watched from the first.
    SyncLink(SceneWatcher* watcher, QTimer* frameTimer, QObject* parent = nullptr);
    ~SyncLink() override;

private:
    void OnFrame();
    void OnStatus(const std::string& line);

    SyncConnection* connection = nullptr;
};
