#include "sync/synctracks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QDir>
#include <QFileInfo>

#include "analysis/soundtrackanalysis.h"
#include "sync/trackfile.h"

static constexpr double kSecondsPerMinute = 60;

SyncTracks g_syncTracks;

int SyncTracks::Find(const std::string& name)
{
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i]->Name() == name)
            return int(i);
    }
    tracks.push_back(std::make_unique<SyncTrack>(name));
    const int index = Count() - 1;
    if (live) {
        if (onNewTrack)
            onNewTrack(index);
    } else {
        ReadKeys(*tracks.back());
    }
    return index;
}

void SyncTracks::SetTempo(double bpm, double rowsPerBeat)
{
    setBpm = bpm;
    setRowsPerBeat = rowsPerBeat;
}

double SyncTracks::RowsPerSecond() const
{
    if (setBpm > 0)
        return setBpm / kSecondsPerMinute * setRowsPerBeat;
    return CurrentMusicTempo().bpm / kSecondsPerMinute * kDefaultRowsPerBeat;
}

double SyncTracks::Row(double seconds) const
{
    const double rate = RowsPerSecond();
    return rate > 0 ? seconds * rate : 0;
}

double SyncTracks::TimeOfRow(uint32_t row) const
{
    const double rate = RowsPerSecond();
    if (!(rate > 0))
        return -1;
    double seconds = row / rate;
    while (std::floor(Row(seconds)) < row)
        seconds = std::nextafter(seconds, INFINITY);
    return seconds;
}

std::string SyncTracks::Folder() const
{
    return folder.empty() ? QDir::currentPath().toStdString() : folder;
}

void SyncTracks::SetFolder(const std::string& path)
{
    folder = path;
}

std::string SyncTracks::FilePath(const SyncTrack& track) const
{
    return Folder() + "/" + TrackFileName(track.Name());
}

void SyncTracks::NoteFileRead(const std::string& path)
{
    if (std::find(filesRead.begin(), filesRead.end(), path) != filesRead.end())
        return;
    filesRead.push_back(path);
    if (onFileRead)
        onFileRead(path);
}

// From the document when there is one, else from the track's file; a file that is missing
// gives no keys the first time and changes nothing later (a save may be under way).
void SyncTracks::ReadKeys(SyncTrack& track)
{
    if (!documentPath.empty()) {
        const auto found = document.find(track.Name());
        track.SetKeys(found == document.end() ? std::vector<SyncKey>() : found->second);
        return;
    }
    const std::string path = FilePath(track);
    NoteFileRead(path);
    std::vector<SyncKey> keys;
    std::string error;
    switch (ReadTrackFile(path, keys, error)) {
    case TrackFileRead::Missing:
        break;
    case TrackFileRead::Read:
        track.SetKeys(std::move(keys));
        break;
    case TrackFileRead::Damaged:
        std::printf("sync: cannot read %s: %s; the track keeps the keys it had\n",
                    TrackFileName(track.Name()).c_str(), error.c_str());
        std::fflush(stdout);
        break;
    }
}

bool SyncTracks::LoadDocument(const std::string& path, std::string& error)
{
    const std::string absolute = QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath().toStdString();
    SyncDocumentTracks read;
    if (!ReadSyncDocument(absolute, read, error))
        return false;
    documentPath = absolute;
    document = std::move(read);
    NoteFileRead(absolute);
    if (!live) {
        for (const auto& track : tracks)
            ReadKeys(*track);
    }
    return true;
}

void SyncTracks::FileChanged(const std::string& path)
{
    if (live)
        return;
    if (!documentPath.empty()) {
        if (path != documentPath)
            return;
        std::string error;
        SyncDocumentTracks read;
        if (!ReadSyncDocument(path, read, error)) {
            std::printf("sync: cannot read %s: %s; the tracks keep the keys they had\n",
                        QFileInfo(QFile::decodeName(path.c_str())).fileName().toStdString().c_str(), error.c_str());
            std::fflush(stdout);
            return;
        }
        document = std::move(read);
    }
    for (const auto& track : tracks) {
        if (!documentPath.empty() || FilePath(*track) == path)
            ReadKeys(*track);
    }
}

bool SyncTracks::SaveFiles(std::string& error) const
{
    bool written = true;
    for (const auto& track : tracks) {
        std::string why;
        if (!WriteTrackFile(FilePath(*track), track->Keys(), why) && written) {
            error = TrackFileName(track->Name()) + ": " + why;
            written = false;
        }
    }
    return written;
}

void SyncTracks::SetLive(bool on)
{
    live = on;
    if (live) {
        for (const auto& track : tracks)
            track->Clear();
    }
}

void SyncTracks::Clear()
{
    tracks.clear();
    documentPath.clear();
    document.clear();
    filesRead.clear();
    setBpm = setRowsPerBeat = 0;
    live = false;
}
