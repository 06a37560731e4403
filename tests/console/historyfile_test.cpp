#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "console/historyfile.h"

namespace {

class History : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString Path(const char* name) const { return folder.filePath(name); }
    // The entries loaded, then what loading them printed.
    QStringList Load(const char* name, int maxEntries = 1000) const
    {
        testing::internal::CaptureStdout();
        const QStringList entries = HistoryFile(Path(name), maxEntries).Load();
        return entries + QStringList(QString::fromStdString(testing::internal::GetCapturedStdout()));
    }
};

// Any text comes back as typed, a run of equal entries (from two programs) once. The file is
// shortened to the newest entries, by a rename, once it has grown to half as many again.
TEST_F(History, EntriesComeBackAsTypedAndTheNewestAreKept)
{
    const QStringList typed = {"for i = 1, 3 do\n    print(i)\nend", "s = 'a\\nb\\\\' -- \\", "x", "x",
                               QString::fromUtf8("cr\r\n\u00e9\t\\r")};
    HistoryFile file(Path("state/history"));
    for (const QString& entry : typed)
        file.Append(entry);
    EXPECT_EQ(Load("state/history"), QStringList({typed[0], typed[1], typed[2], typed[4], ""}));

    HistoryFile shortened(Path("history"), 10);
    for (int i = 0; i < 40; ++i)
        shortened.Append(QString::number(i));
    QFile lines(Path("history"));
    EXPECT_TRUE(lines.open(QIODevice::ReadOnly) && lines.readAll().count('\n') <= 15);
    EXPECT_EQ(Load("history", 2), QStringList({"38", "39", ""}));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList({"history"}));
}

// The folders it makes are the user's alone; a shortening leaves a copy that another program
// is writing beside the file (under a name of its own) as it is.
TEST_F(History, FoldersArePrivateAndAShorteningUsesANameOfItsOwn)
{
    HistoryFile(Path("made/state/history")).Append("x");
    for (const char* folder : {"made", "made/state"}) {
        struct stat made;
        ASSERT_EQ(stat(Path(folder).toLocal8Bit().constData(), &made), 0);
        EXPECT_EQ(made.st_mode & 0777, 0700u) << folder;
    }
    std::ofstream(Path("history.new").toStdString()) << "another program's\n";
    HistoryFile file(Path("history"), 2);
    for (int i = 0; i < 4; ++i)
        file.Append(QString::number(i));
    EXPECT_EQ(Load("history"), QStringList({"2", "3", ""}));
    EXPECT_EQ(Load("history.new"), QStringList({"another program's", ""}));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList({"history", "history.new"}));
}

TEST_F(History, WhatCannotBeReadOrWrittenIsSaidOnceAndTheRestWorks)
{
    std::ofstream(Path("history").toStdString()) << "good\nbad \\q\n\xff\ngood\\ntoo\nlone \\";
    EXPECT_EQ(Load("history"), QStringList({"good", "good\ntoo", "history: " + Path("history") + ": 3 unreadable entries skipped\n"}));
    EXPECT_EQ(Load("missing"), QStringList({""}));
    ASSERT_TRUE(QDir(folder.path()).mkdir("folder"));
    EXPECT_EQ(Load("folder"), QStringList({"history: cannot read " + Path("folder") + ": Is a directory\n"}));
    ASSERT_EQ(mkfifo(Path("fifo").toLocal8Bit().constData(), 0600), 0);  // would wait for a writer
    const auto openFiles = [] { return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size(); };
    const qsizetype before = openFiles();
    EXPECT_EQ(Load("fifo"), QStringList({"history: cannot read " + Path("fifo") + ": not a regular file\n"}));
    EXPECT_EQ(openFiles(), before);  // the refused file is closed
    testing::internal::CaptureStdout();
    HistoryFile unwritable(Path("folder"));
    unwritable.Append("one"), unwritable.Append("two");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "history: cannot write " + Path("folder").toStdString() + ": Is a directory\n");
}

TEST_F(History, ThePathComesFromTheEnvironment)
{
    setenv("HOME", "/home/h", 1);
    for (const auto& [named, state, path] : {std::tuple{"/x/h", "/s", "/x/h"}, std::tuple{"", "/s", ""},
             std::tuple{"-", "/s", "/s/quillmere/history"}, std::tuple{"-", "", "/home/h/.local/state/quillmere/history"}}) {
        std::string(named) == "-" ? unsetenv("QUILLMERE_HISTORY") : setenv("QUILLMERE_HISTORY", named, 1);
        setenv("XDG_STATE_HOME", state, 1);
        EXPECT_EQ(HistoryFile::DefaultPath(), path) << state;
    }
}

// Another program renames a shortened file over the path while an append waits for the lock:
// the entry goes whole into the new file.
TEST_F(History, AnAppendDuringAShorteningGoesIntoTheNewFile)
{
    HistoryFile(Path("history")).Append("old");
    const int fd = open(QFile::encodeName(Path("history")).constData(), O_RDONLY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(fd);  // the lock belongs to the open file, which the child shares
        HistoryFile(Path("history")).Append("appended\nwhole");
        _exit(0);
    }
    // The kernel lists a lock that waits with "->" before it.
    const auto waiting = [child] {
        std::ifstream locks("/proc/locks");
        for (std::string line; std::getline(locks, line);)
            if (line.find("-> FLOCK") != std::string::npos && line.find(" " + std::to_string(child) + " ") != std::string::npos)
                return true;
        return false;
    };
    for (int i = 0; i < 60000 && !waiting(); ++i)
        usleep(1000);
    ASSERT_TRUE(waiting());
    std::ofstream(Path("shortened").toStdString()) << "shortened\n";
    ASSERT_EQ(std::rename(Path("shortened").toLocal8Bit().constData(), Path("history").toLocal8Bit().constData()), 0);
    close(fd);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(Load("history"), QStringList({"shortened", "appended\nwhole", ""}));
}

}  // namespace
