#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include <string>
#include <vector>

#include "app/commandline.h"

static CommandLine Parse(std::vector<std::string> arguments)
{
    static std::vector<std::string> kept;
    kept = arguments;
    kept.insert(kept.begin(), "quillmere");
    static std::vector<char*> argv;
    argv.clear();
    for (std::string& a : kept)
        argv.push_back(a.data());
    return ParseCommandLine(int(argv.size()), argv.data());
}

static std::vector<std::string> Toolkit(const CommandLine& line)
{
    return std::vector<std::string>(line.toolkitArguments.begin(),
                                    line.toolkitArguments.begin() + line.toolkitArgumentCount);
}

// Qt's options reach Qt with their values, whether written with one dash or two, and a value is
// never taken for the folder.
TEST(CommandLine, ToolkitOptionsPassOnWithTheirValues)
{
    const CommandLine line = Parse({"-platform", "xcb", "/", "--style=fusion", "-reverse", "--display", ":3"});
    EXPECT_EQ(line.action, CommandLine::Action::Play);
    EXPECT_EQ(line.folder, "/");
    EXPECT_EQ(Toolkit(line), (std::vector<std::string>{"quillmere", "-platform", "xcb", "--style=fusion",
                                                       "-reverse", "--display", ":3"}));
    EXPECT_EQ((std::vector<std::string>{line.platform, line.display}), (std::vector<std::string>{"xcb", ":3"}));
    EXPECT_EQ(line.toolkitArguments.back(), nullptr);
    EXPECT_EQ(Parse({""}).action, CommandLine::Action::Play);
}

TEST(CommandLine, CaptureValuesComeSpacedOrAttachedAndTimesAsSecondsOrMinutes)
{
    const CommandLine line = Parse({"--capture=out.MKV", "--fps", "25", "--size=2x4", "--from", "1:30.5",
                                    "--to=100", "--no-overlays", "--quality", "lossless", "--run-up=0.5",
                                    "--segments", "3", "--hosts", "farm", "--print-segments", "--", "/"});
    ASSERT_EQ(line.action, CommandLine::Action::Capture) << line.error;
    const CaptureSettings& c = line.capture;
    EXPECT_EQ(c.path.substr(c.path.size() - 8), "/out.MKV");
    EXPECT_EQ(c.path[0], '/');
    EXPECT_EQ((std::vector<double>{double(c.fps), double(c.width), double(c.height), c.from, c.to}),
              (std::vector<double>{25, 2, 4, 90.5, 100}));
    EXPECT_FALSE(c.overlays);
    EXPECT_EQ(line.folder, "/");
    EXPECT_EQ((std::vector<double>{double(c.quality), c.runUp, double(c.segments)}),
              (std::vector<double>{double(CaptureQuality::Lossless), 0.5, 3}));
    EXPECT_EQ(c.hostsPath.substr(c.hostsPath.size() - 5), "/farm");
    EXPECT_TRUE(c.printSegments);
    EXPECT_EQ(c.folder, "/");
}

TEST(CommandLine, MalformedValuesAreErrors)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--capture", "a.mp4", "--from", "1:60"}, {"--capture", "a.mp4", "--size", "4x"},
             {"--capture", "a.mp4", "--fps", "1.5"}, {"--capture", "a.mp4", "--to", "0"},
             {"--capture", "a.mp4", "--from", "nan"}, {"--capture", "a.mp4", "--to"}, {"-platform"},
             {"/", "/tmp"}, {"--capture", "dir.mp4/"},
             // What strtod alone would take for a time.
             {"--capture", "a.mp4", "--from", "0x10"}, {"--capture", "a.mp4", "--to", " 5"},
             {"--capture", "a.mp4", "--from", "1e1"}, {"--capture", "a.mp4", "--from", "+1"},
             // Qt reads these only as two arguments: in this form it would ignore them and abort.
             {"-platform=xcb"}, {"-display=:1"}, {"--platform=offscreen"},
             {"--hold", "--capture", "a.mp4"}, {"--hold=yes"}, {"--music"},
             {"--capture", "a.mp4", "--quality", "best"}, {"--capture", "a.mp4", "--segments", "0"},
             {"--capture", "a.mp4", "--run-up", "-1"}, {"--capture", "a.mp4", "--hosts", "farm"},
             {"--capture", "a.mp4", "--print-segments"}})
        EXPECT_EQ(Parse(arguments).action, CommandLine::Action::Error) << arguments.back();
}

TEST(CommandLine, SizeTakesEitherXAndTheMusicAndHoldAreTheWindowsToo)
{
    const CommandLine capture = Parse({"--capture", "a.mp4", "--size", "1280X720", "--music=../x.ogg"});
    ASSERT_EQ(capture.action, CommandLine::Action::Capture) << capture.error;
    EXPECT_EQ((std::vector<int>{capture.capture.width, capture.capture.height}), (std::vector<int>{1280, 720}));
    EXPECT_EQ(capture.capture.music, "../x.ogg");
    EXPECT_EQ(capture.capture.musicPath[0], '/');
    EXPECT_EQ(capture.capture.musicPath.substr(capture.capture.musicPath.size() - 9), "/../x.ogg");
    const CommandLine window = Parse({"--hold"});
    EXPECT_EQ(window.action, CommandLine::Action::Play);
    EXPECT_TRUE(window.hold);
    EXPECT_EQ(window.capture.musicPath, "Ondrelle.mp3");
}

// --fps paces the window and sets the video's rate in a capture; the player's options are the window's.
TEST(CommandLine, ThePlayerAndItsPaceAreTheWindowsAndFpsIsTheCapturesRateToo)
{
    const CommandLine player = Parse({"--player", "--window", "641x479", "--fps=1000"});
    ASSERT_EQ(player.action, CommandLine::Action::Play) << player.error;
    EXPECT_EQ((std::vector<int>{player.show.player, player.show.width, player.show.height, player.show.fps}),
              (std::vector<int>{1, 641, 479, 1000}));
    EXPECT_EQ(Parse({"--fps", "30"}).show.fps, 30);
    EXPECT_EQ(Parse({}).show.fps, 0);
    const CommandLine capture = Parse({"--fps", "24", "--capture", "a.mp4"});
    ASSERT_EQ(capture.action, CommandLine::Action::Capture) << capture.error;
    EXPECT_EQ(capture.capture.fps, 24);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--window", "640x480"}, {"--player", "--window", "640"}, {"--player", "--window", "1x480"},
             {"--player", "--capture", "a.mp4"}, {"--fps", "0"}, {"--fps", "1001"}, {"--player=1"}})
        EXPECT_EQ(Parse(arguments).action, CommandLine::Action::Error) << arguments.back();
}

TEST(CommandLine, APathToProdLuaStandsForItsFolder)
{
    char folder[] = "/tmp/quillmere-commandline-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::string scene = std::string(folder) + "/prod.lua";
    const std::string other = std::string(folder) + "/other.lua";
    std::fclose(std::fopen(scene.c_str(), "w"));
    std::fclose(std::fopen(other.c_str(), "w"));
    EXPECT_EQ(Parse({scene}).folder, folder);
    EXPECT_EQ(Parse({other}).action, CommandLine::Action::Error);
    std::remove(scene.c_str());
    std::remove(other.c_str());
    rmdir(folder);
}

// --sync is ours, Qt's -sync stays Qt's; the editor's address defaults to the port it listens on.
TEST(CommandLine, SyncNamesTheEditorOrNoneAndQtsSyncFlagStaysQts)
{
    const CommandLine defaults = Parse({});
    EXPECT_EQ(defaults.syncHost + ":" + std::to_string(defaults.syncPort), "127.0.0.1:1338");
    const CommandLine named = Parse({"--sync", "[::1]:9", "-sync"});
    ASSERT_EQ(named.action, CommandLine::Action::Play) << named.error;
    EXPECT_EQ(named.syncHost + " " + std::to_string(named.syncPort), "::1 9");
    EXPECT_EQ(Toolkit(named), (std::vector<std::string>{"quillmere", "-sync"}));
    EXPECT_EQ(Parse({"--sync=off"}).syncHost, "");
    for (const char* value : {"editor", ":1338", "host:0", "host:65536", "host:+1", "host:", "[]:1"})
        EXPECT_EQ(Parse({"--sync", value}).action, CommandLine::Action::Error) << value;
    EXPECT_EQ(Parse({"--capture", "a.mp4", "--sync", "off"}).action, CommandLine::Action::Error);
}
