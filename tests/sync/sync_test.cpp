#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
#include "sync/syncmessages.h"
#include "sync/synctracks.h"
#include "sync/trackfile.h"
#include "tests/sync/messagelog.h"

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes += char(v);
    return bytes;
}

// A key's fields as one comparable text.
std::string Describe(const std::vector<SyncKey>& keys)
{
    std::string text;
    for (const SyncKey& k : keys)
        text += std::to_string(k.row) + ":" + std::to_string(k.value) + ":" + std::to_string(int(k.interpolation)) + " ";
    return text;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every message the editor sends, after its greeting: SET_KEY track 1 row 258 value -2.5 ramp,
// DELETE_KEY track 0 row 7, SET_ROW 65536, PAUSE 1, PAUSE 0, SAVE_TRACKS.
const std::string kEditorStream = std::string("hello, demo!")
    + Bytes({0, 0, 0, 0, 1, 0, 0, 1, 2, 0xC0, 0x20, 0, 0, 3}) + Bytes({1, 0, 0, 0, 0, 0, 0, 0, 7})
    + Bytes({3, 0, 1, 0, 0}) + Bytes({4, 1}) + Bytes({4, 0}) + Bytes({5});

TEST(SyncMessages, TheEditorsMessagesReadTheSameInPiecesOfAnySize)
{
    const std::string whole = "0/1/258/-2.500000/3/0 1/0/7/0.000000/0/0 3/0/65536/0.000000/0/0 "
                              "4/0/0/0.000000/0/1 4/0/0/0.000000/0/0 5/0/0/0.000000/0/0 ";
    for (size_t piece : {kEditorStream.size(), size_t(1), size_t(5), size_t(13)})
        EXPECT_EQ(ReadMessages(kEditorStream, piece), whole) << piece;
    // Half a message is pending until the rest comes.
    EXPECT_EQ(ReadMessages(kEditorStream.substr(0, 20), 20), "pending");
}

TEST(SyncMessages, InputThatIsNotTheProtocolIsBadAsSoonAsItShows)
{
    // A wrong greeting is told at its first wrong byte, without waiting for the rest.
    EXPECT_EQ(ReadMessages("hello, do", 9), "bad: it did not greet as the sync editor does");
    const std::string greeted = "hello, demo!";
    for (const auto& [bytes, error] : std::vector<std::pair<std::string, std::string>>{
             {Bytes({9}), "the unknown command 9"},
             {Bytes({2, 0, 0, 0, 1, 'x'}), "the unknown command 2"},
             {Bytes({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 4}), "a key with the interpolation 4, past 3"}}) {
        EXPECT_EQ(ReadMessages(greeted + Bytes({5}) + bytes, 3), "5/0/0/0.000000/0/0 bad: " + error);
    }
    EXPECT_EQ(GetTrackMessage("a:b"), Bytes({2, 0, 0, 0, 3, 'a', ':', 'b'}));
    EXPECT_EQ(SetRowMessage(0x01020304), Bytes({3, 1, 2, 3, 4}));
}

TEST(TrackFiles, NamesAreEncodedSoThatNoneLeavesTheFolder)
{
    EXPECT_EQ(TrackFileName("cam.pos_x9"), "sync_cam.pos_x9.track");
    EXPECT_EQ(TrackFileName("../a/b:c d"), "sync_..-2Fa-2Fb-3Ac-20d.track");
    EXPECT_EQ(TrackFileName("\xC3\xA9"), "sync_-C3-A9.track");
    EXPECT_EQ(TrackFileName(std::string("a\0b", 3)), "sync_a-00b.track");
}

TEST(TrackFiles, KeysGoOutLittleEndianAndComeBackAndDamagedFilesAreRefused)
{
    const std::vector<SyncKey> keys = {{1, 0.5f, SyncInterpolation::Linear}, {0x01020304, -2.0f, SyncInterpolation::Ramp}};
    const std::string bytes = TrackFileBytes(keys);
    EXPECT_EQ(bytes, Bytes({2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x3F, 1, 4, 3, 2, 1, 0, 0, 0, 0xC0, 3}));
    std::vector<SyncKey> read;
    std::string error;
    ASSERT_TRUE(ParseTrackFile(bytes, read, error)) << error;
    EXPECT_EQ(Describe(read), Describe(keys));
    for (const auto& [damaged, why] : std::vector<std::pair<std::string, std::string>>{
             {Bytes({1, 0}), "shorter than its key count"},
             {Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "4 bytes do not hold the 4294967295 keys it announces"},
             {bytes + Bytes({0}), "23 bytes do not hold the 2 keys it announces"},
             {bytes.substr(0, bytes.size() - 1) + Bytes({4}), "a key at row 16909060 has the interpolation 4, past 3"}}) {
        EXPECT_FALSE(ParseTrackFile(damaged, read, error));
        EXPECT_EQ(error, why);
        EXPECT_TRUE(read.empty());
    }
}

TEST(SyncDocuments, TheEditorsDocumentGivesEachTracksKeysAndBadOnesSayWhereTheyGoWrong)
{
    SyncDocumentTracks tracks;
    std::string error;
    ASSERT_TRUE(ParseSyncDocument(R"(<?xml version="1.0" encoding="utf-8"?>
<sync rows="128">
	<tracks>
		<track name="cam:x" folded="1" color="ff00ff"><key row="4" value="1.25" interpolation="2"/></track>
		<track name="empty"/>
		<track name="cam:x"><key row="0" value="-3" interpolation="0"/></track>
	</tracks>
	<bookmarks><bookmark row="3"/></bookmarks>
</sync>)", tracks, error)) << error;
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(Describe(tracks["cam:x"]), "4:1.250000:2 0:-3.000000:0 ");
    EXPECT_TRUE(tracks["empty"].empty());

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

TEST_F(SyncTrackSet, TracksReadTheirFilesTheDocumentOrTheEditorAndFilesAgainWhenSaved)
{
    WriteFile(Path("sync_a.track"), TrackFileBytes({{0, 1, SyncInterpolation::Step}}));
    WriteFile(Path("sync_b.track"), "broken");
    std::vector<std::string> read;
    tracks.onFileRead = [&](const std::string& path) { read.push_back(path); };
    EXPECT_EQ(ValueAt("a", 5), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ValueAt("b", 5), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "sync: cannot read sync_b.track: 6 bytes do not hold the 1802465890 keys it announces; "
              "the track keeps the keys it had\n");
    EXPECT_EQ(tracks.Find("a"), 0);
    EXPECT_EQ(read, (std::vector<std::string>{Path("sync_a.track"), Path("sync_b.track")}));

    // A save is read again; a save that breaks the file keeps the keys.
    WriteFile(Path("sync_a.track"), TrackFileBytes({{0, 2, SyncInterpolation::Step}}));
    tracks.FileChanged(Path("sync_a.track"));
    EXPECT_EQ(ValueAt("a", 5), 2);
    WriteFile(Path("sync_a.track"), "x");
    testing::internal::CaptureStdout();
    tracks.FileChanged(Path("sync_a.track"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ValueAt("a", 5), 2);

    // With an editor, a new track is asked of it; a save of a file changes nothing; losing it keeps the keys.
    std::vector<int> asked;
    tracks.onNewTrack = [&](int index) { asked.push_back(index); };
    tracks.SetLive(true);
    EXPECT_EQ(ValueAt("a", 5), 0);
    tracks.At(0).SetKey({3, 7, SyncInterpolation::Step});
    WriteFile(Path("sync_c.track"), TrackFileBytes({{0, 9, SyncInterpolation::Step}}));
    EXPECT_EQ(ValueAt("c", 5), 0);
    EXPECT_EQ(asked, std::vector<int>{2});
    WriteFile(Path("sync_a.track"), TrackFileBytes({{0, 4, SyncInterpolation::Step}}));
    tracks.FileChanged(Path("sync_a.track"));
    tracks.SetLive(false);
    EXPECT_EQ(ValueAt("a", 5), 7);
    std::string error;
    ASSERT_TRUE(tracks.SaveFiles(error)) << error;
    std::vector<SyncKey> keys;
    ASSERT_EQ(ReadTrackFile(Path("sync_a.track"), keys, error), TrackFileRead::Read);
    EXPECT_EQ(Describe(keys), "3:7.000000:0 ");

    // The document names the keys of every track from then on; a track it lacks has none.
    WriteFile(Path("d.rocket"), "<sync><tracks><track name='c'><key row='0' value='6' interpolation='0'/></track></tracks></sync>");
    EXPECT_FALSE(tracks.LoadDocument(Path("missing.rocket"), error));
    EXPECT_EQ(ValueAt("a", 5), 7);
    ASSERT_TRUE(tracks.LoadDocument(Path("d.rocket"), error)) << error;
    EXPECT_EQ(ValueAt("a", 5), 0);
    EXPECT_EQ(ValueAt("c", 5), 6);
    WriteFile(Path("d.rocket"), "<sync><tracks><track name='a'><key row='0' value='8' interpolation='0'/></track></tracks></sync>");
    tracks.FileChanged(Path("d.rocket"));
    EXPECT_EQ(ValueAt("a", 5) + ValueAt("c", 5), 8);
}

TEST(SyncBindings, BadArgumentsAreErrorsThatNameWhatIsExpected)
{
    InitLua();
    RegisterSyncBindings(g_luaState);
    for (const auto& [chunk, error] : std::vector<std::pair<std::string, std::string>>{
             {"setSyncTempo(0, 8)", "setSyncTempo: expected beats a minute above 0 and up to 1000, got 0"},
             {"setSyncTempo(120, 2.5)", "setSyncTempo: expected a whole number of rows a beat from 1 to 256, got 2.5"},
             {"getTrack(5)", "getTrack: expected a track's name, got number"},
             {"getTrack('x'):value('now')", "value: expected a music time in seconds, or nothing for now, got string"},
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
