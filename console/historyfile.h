#pragma once
// The console's commands kept across runs in one file, one entry a line: a backslash, a line
// feed and a carriage return are written as \\, \n and \r, so that any text, several lines
// included, comes back exactly as it was typed. Programs running at once append whole entries
// under a lock on the file; the one that shortens the file holds that lock from reading it to
// renaming the shortened copy over it, so that no entry appended meanwhile is lost.

#include <QString>
#include <QStringList>

class HistoryFile {
public:
    // $QUILLMERE_HISTORY when it is set (empty: no file at all), else
    // $XDG_STATE_HOME/quillmere/history, else ~/.local/state/quillmere/history.
    static QString DefaultPath();

    // An empty path keeps nothing: Load finds no entries and Append writes nothing.
    explicit HistoryFile(const QString& path, int maxEntries = 1000);

    // The newest maxEntries entries that can be read, oldest first, a run of equal entries once.
    // What could not be read is said in one line on standard output.
    QStringList Load();
    // Adds the entry to the file at once, in one write. The first failure is said in one line
    // on standard output; later ones are silent.
    void Append(const QString& entry);

private:
    void Compact();
    void ReportWriteFailure(int error);

    QString path;
    int maxEntries;
    // Entries in the file as far as this program knows: what it loaded and appended since.
    int entriesInFile = 0;
    bool writeFailureReported = false;
};
