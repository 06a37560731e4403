#include <gtest/gtest.h>

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
    EXPECT_TRUE(line.capture.windowSystemGiven);
    EXPECT_EQ(line.toolkitArguments.back(), nullptr);
}

TEST(CommandLine, CaptureValuesComeSpacedOrAttachedAndTimesAsSecondsOrMinutes)
{
    const CommandLine line = Parse({"--capture=out.MKV", "--fps", "25", "--size=2x4", "--from", "1:30.5",
                                    "--to=100", "--no-overlays", "--", "/"});
    ASSERT_EQ(line.action, CommandLine::Action::Capture) << line.error;
    const CaptureSettings& c = line.capture;
    EXPECT_EQ(c.path.substr(c.path.size() - 8), "/out.MKV");
    EXPECT_EQ(c.path[0], '/');
    EXPECT_EQ((std::vector<double>{double(c.fps), double(c.width), double(c.height), c.from, c.to}),
              (std::vector<double>{25, 2, 4, 90.5, 100}));
    EXPECT_FALSE(c.overlays);
    EXPECT_EQ(line.folder, "/");
}

TEST(CommandLine, MalformedValuesAreErrors)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--capture", "a.mp4", "--from", "1:60"}, {"--capture", "a.mp4", "--size", "4x"},
             {"--capture", "a.mp4", "--fps", "1.5"}, {"--capture", "a.mp4", "--to", "0"},
             {"--capture", "a.mp4", "--from", "nan"}, {"--capture", "a.mp4", "--to"}, {"-platform"},
             {"/", "/tmp"}, {"--capture", "dir.mp4/"}})
        EXPECT_EQ(Parse(arguments).action, CommandLine::Action::Error) << arguments.back();
}
