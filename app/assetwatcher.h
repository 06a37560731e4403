#pragma once
// Watches the files a script's shaders and textures were made from, and has the objects read
// them again once a save has settled. The objects do the reading at the next frame start.

#include <QMap>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

class AssetWatcher : public QObject {
    Q_OBJECT
public:
    // Listens for the files script objects announce from now on.
    explicit AssetWatcher(QObject* parent = nullptr);
    ~AssetWatcher() override;

    void Watch(const QString& path);

signals:
    // A watched file has been saved, once the save has settled; after the script objects made
    // from it are marked.
    void FileChanged(const QString& path);

private:
    // Size, time and inode: a save by rename changes the inode and leaves the watch on the old
    // file.
    struct Stamp {
        qint64 size = -1;
        qint64 modifiedNs = 0;
        quint64 inode = 0;
        bool operator!=(const Stamp& other) const;
    };
    static Stamp TakeStamp(const QString& path);
    void OnChange();
    void OnSettled();

    QFileSystemWatcher* fileWatcher;
    QTimer* settleTimer;
    // Each watched file as it was last read.
    QMap<QString, Stamp> loaded;
};
