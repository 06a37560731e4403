#pragma once
// The scene's sync tracks, one set for the process. A track is made by name when the script
// first asks for it and keeps its number; its keys come from the editor while one is connected
// (the editor's keys are the truth), and otherwise from the scene's files: its track file, or
// the editor's document when the script has named one. The rows are the music's time counted
// at the sync tempo.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sync/syncdocument.h"
#include "sync/synctrack.h"

class SyncTracks {
public:
    // Rows a beat unless the script sets the tempo.
    static constexpr double kDefaultRowsPerBeat = 8;

    // The number of the track of that name, made on first use with its keys from the files
    // (none while an editor is connected: it is asked for them).
    int Find(const std::string& name);
    int Count() const { return int(tracks.size()); }
    SyncTrack& At(int index) { return *tracks[size_t(index)]; }

    // Rows run at bpm / 60 * rowsPerBeat a second of music time; without this, at the music's
    // tempo and kDefaultRowsPerBeat.
    void SetTempo(double bpm, double rowsPerBeat);
    // 0 while no tempo is known: every time is then row 0.
    double RowsPerSecond() const;
    double Row(double seconds) const;
    // The earliest music time whose row's floor is the row, where a plain division can fall a
    // hair short; -1 while no tempo is known.
    double TimeOfRow(uint32_t row) const;

    // Every track takes its keys from the editor's document at path from now on; a track it
    // does not hold has none. False, with the error, and nothing changed, when it cannot be read.
    bool LoadDocument(const std::string& path, std::string& error);
    // A file the tracks were read from has changed on disk: it is read again, unless an editor
    // is connected. A file that cannot be read leaves the keys as they are, with one line on
    // standard output.
    void FileChanged(const std::string& path);
    // Writes every track's file into the folder, each whole or not at all. False with the
    // first error; the others are still written.
    bool SaveFiles(std::string& error) const;

    // While an editor is connected its keys are the truth: going live clears every track.
    // Losing it keeps the keys it gave.
    void SetLive(bool live);
    bool Live() const { return live; }

    // The folder of the track files, the working directory's absolute path unless set.
    void SetFolder(const std::string& folder);
    std::string FilePath(const SyncTrack& track) const;

    // Called with the number of each track made while live, which the editor must be asked for.
    std::function<void(int index)> onNewTrack;
    // Called with the absolute path of each file the tracks read, when it is first read.
    std::function<void(const std::string& path)> onFileRead;

    // Forgets every track, the document and the tempo.
    void Clear();

private:
    std::string Folder() const;
    void ReadKeys(SyncTrack& track);
    void NoteFileRead(const std::string& path);

    std::vector<std::unique_ptr<SyncTrack>> tracks;
    std::string folder;
    std::string documentPath;
    SyncDocumentTracks document;
    std::vector<std::string> filesRead;
    double setBpm = 0;
    double setRowsPerBeat = 0;
    bool live = false;
};

extern SyncTracks g_syncTracks;
