#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include <QByteArray>
#include <QTemporaryDir>

extern "C" {
#include <lua.h>
}

#include "analysis/soundtrackanalysis.h"
#include "script/luaengine.h"
#include "script/syncbindings.h"
#include "sync/syncdocument.h"
#include "sync/synctracks.h"
#include "sync/trackfile.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(TrackFiles, DamagedFilesAreRefusedWithTheirReasonAndNoKeys)
{
    const std::string bytes = TrackFileBytes({{1, 0.5f, SyncInterpolation::Linear}, {0x01020304, -2.0f, SyncInterpolation::Ramp}});
    std::vector<SyncKey> read;
    std::string error;
    for (const auto& [damaged, why] : std::vector<std::pair<std::string, std::string>>{
             {std::string("\x01\x00", 2), "shorter than its key count"},
             {"\xFF\xFF\xFF\xFF", "4 bytes do not hold the 4294967295 keys it announces"},
             {bytes + '\0', "23 bytes do not hold the 2 keys it announces"},
             {bytes.substr(0, bytes.size() - 1) + '\x04', "a key at row 16909060 has the interpolation 4, past 3"}}) {
        EXPECT_FALSE(ParseTrackFile(damaged, read, error));
        EXPECT_EQ(error, why);
        EXPECT_TRUE(read.empty());
    }
}

TEST(SyncDocuments, DocumentsThatAreNotTheEditorsSayWhereTheyGoWrong)
{
    SyncDocumentTracks tracks;
    std::string error;
    for (const auto& [xml, why] : std::vector<std::pair<std::string, std::string>>{
             {"<tracks/>", "line 1: the document is <tracks>, not <sync>"},
             {"<sync>\n<tracks><track><key/></track></tracks></sync>", "line 2: a track without a name"},
             {"<sync><tracks>\n<track name='a'><key value='1' interpolation='0'/></track></tracks></sync>",
              "line 2: a key without a row from 0 on"},
             {"<sync><tracks><track name='a'><key row='1' value='x' interpolation='0'/></track></tracks></sync>",
              "line 1: the key at row 1 has no number for its value"},
             {"<sync><tracks><track name='a'><key row='1' value='1' interpolation='4'/></track></tracks></sync>",
              "line 1: the key at row 1 has no interpolation from 0 to 3"},
             {"<sync><tracks><track name='a'>\n<key row='1' value='1' interpolation='1'/>", "line 2: Premature end of document."},
         }) {
        EXPECT_FALSE(ParseSyncDocument(QByteArray::fromStdString(xml), tracks, error)) << xml;
        EXPECT_EQ(error, why);
        EXPECT_TRUE(tracks.empty());
    }
}

class SyncTrackSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        tracks.SetFolder(folder.path().toStdString());
    }
    std::string Path(const char* name) const { return folder.filePath(name).toStdString(); }
    double ValueAt(const char* name, double row) { return tracks.At(tracks.Find(name)).Value(row); }

    QTemporaryDir folder;
    SyncTracks tracks;
};

TEST_F(SyncTrackSet, RowsRunAtTheSetTempoOrEightABeatOfTheMusicsAndStandAtZeroWithout)
{
    SetMusicTempo(MusicTempo());
    EXPECT_EQ(tracks.Row(10), 0);
    EXPECT_EQ(tracks.TimeOfRow(10), -1);
    SetMusicTempo(MusicTempo{120, 0.5});
    EXPECT_EQ(tracks.Row(1.5), 24);
    tracks.SetTempo(90, 4);
    EXPECT_EQ(tracks.Row(2), 12);
    // 125 beats of 8 rows: row 29 divided by the rate and multiplied back falls short of 29.
    tracks.SetTempo(125, 8);
    for (const uint32_t row : {0u, 29u, 58u, 4000000000u}) {
        const double seconds = tracks.TimeOfRow(row);
        EXPECT_EQ(std::floor(tracks.Row(seconds)), row);
        EXPECT_LT(std::floor(tracks.Row(std::nextafter(seconds, 0.0))), row + (row == 0));
    }
    SetMusicTempo(MusicTempo());
}

TEST_F(SyncTrackSet, TracksReadTheirFilesOrTheDocumentAndNotWhileTheEditorIsConnected)
{
    WriteFile(Path("sync_a.track"), TrackFileBytes({{0, 1, SyncInterpolation::Step}}));
    WriteFile(Path("sync_b.track"), "broken");
    EXPECT_EQ(ValueAt("a", 5), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ValueAt("b", 5), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "sync: cannot read sync_b.track: 6 bytes do not hold the 1802465890 keys it announces; "
              "the track keeps the keys it had\n");
    EXPECT_EQ(tracks.Find("a"), 0);

    // A save is read again; a save that breaks the file keeps the keys.
    WriteFile(Path("sync_a.track"), TrackFileBytes({{0, 2, SyncInterpolation::Step}}));
    tracks.FileChanged(Path("sync_a.track"));
    EXPECT_EQ(ValueAt("a", 5), 2);
    WriteFile(Path("sync_a.track"), "x");
    testing::internal::CaptureStdout();
    tracks.FileChanged(Path("sync_a.track"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ValueAt("a", 5), 2);

    // With an editor a new track is asked of it and reads no file, nor any saved file.
    std::vector<int> asked;
    tracks.onNewTrack = [&](int index) { asked.push_back(index); };
    tracks.SetLive(true);
    WriteFile(Path("sync_c.track"), TrackFileBytes({{0, 9, SyncInterpolation::Step}}));
    EXPECT_EQ(ValueAt("c", 5), 0);
    EXPECT_EQ(asked, std::vector<int>{2});
    tracks.FileChanged(Path("sync_c.track"));
    EXPECT_EQ(ValueAt("c", 5), 0);
    tracks.At(0).SetKey({0, 7, SyncInterpolation::Step});
    tracks.SetLive(false);

    // A document that cannot be read changes nothing; one saved is read again.
    std::string error;
    WriteFile(Path("d.rocket"), "<sync><tracks><track name='a'><key row='0' value='8' interpolation='0'/></track></tracks></sync>");
    EXPECT_FALSE(tracks.LoadDocument(Path("missing.rocket"), error));
    EXPECT_EQ(ValueAt("a", 5), 7);
    ASSERT_TRUE(tracks.LoadDocument(Path("d.rocket"), error)) << error;
    EXPECT_EQ(ValueAt("a", 5) + ValueAt("c", 5), 8);
    WriteFile(Path("d.rocket"), "<sync><tracks><track name='c'><key row='0' value='6' interpolation='0'/></track></tracks></sync>");
    tracks.FileChanged(Path("d.rocket"));
    EXPECT_EQ(ValueAt("a", 5) + ValueAt("c", 5), 6);
}

TEST(SyncBindings, TheDocumentReadsAndBadArgumentsAreErrorsThatNameWhatIsExpected)
{
    InitLua();
    RegisterSyncBindings(g_luaState);
    QTemporaryDir folder;
    const std::string document = folder.filePath("demo.rocket").toStdString();
    WriteFile(document, "<sync><tracks><track name='a'><key row='0' value='8' interpolation='0'/></track></tracks></sync>");
    std::string output, error, values;
    ExecuteLua("loadSyncDocument('" + document + "') return getTrack('a'):value(5)", output, error, &values);
    EXPECT_EQ(values + error, "8\n");
    for (const auto& [chunk, error] : std::vector<std::pair<std::string, std::string>>{
             {"setSyncTempo(0, 8)", "setSyncTempo: expected beats a minute above 0 and up to 1000, got 0"},
             {"setSyncTempo(120, 2.5)", "setSyncTempo: expected a whole number of rows a beat from 1 to 256, got 2.5"},
             {"getTrack('x'):value(0 / 0)", "value: expected a music time in seconds, or nothing for now, got "},
             {"getTrack(5)", "getTrack: expected a track's name, got number"},
             {"getTrack('x').value({})", "bad argument #1 to 'value' (quillmere.track expected, got table)"},
             {"loadSyncDocument('missing.rocket')", "loadSyncDocument: missing.rocket: No such file or directory"}}) {
        std::string output, message;
        testing::internal::CaptureStdout();
        ExecuteLua(chunk, output, message);
        testing::internal::GetCapturedStdout();
        EXPECT_NE(message.find(error), std::string::npos) << message;
    }
    CloseLua();
    g_syncTracks.Clear();
}

} // namespace
