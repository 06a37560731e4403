#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <string>

#include "app/soundtrack.h"
#include "sound/fsound.h"

namespace {

// A tone of that length; the mixer streams a WAV file as it does an mp3.
std::string Tone(const std::string& path, double seconds)
{
    const std::string command = "sox -n -r 22050 -c 1 '" + path + "' synth " + std::to_string(seconds) + " sine 440";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return path;
}

// SDL would turn SIGINT and SIGTERM into events that nobody reads. A stream's end callback
// gets no buffer and a length of 0.
TEST(Sound, CtrlCStillStopsTheProgramAndTheEndIsReported)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action;
        sigaction(signal, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
    }
    static std::atomic<int> length{-1};
    const std::string tone = Tone("/tmp/quillmere-end-" + std::to_string(getpid()) + ".wav", 0.05);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(tone.c_str(), 0, 0, 0);
    std::remove(tone.c_str());
    FSOUND_Stream_SetEndCallback(stream, [](FSOUND_STREAM*, void* buffer, int n, void*) { return (signed char)(length = buffer ? -2 : n); }, nullptr);
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    for (int i = 0; i < 500 && length < 0; ++i)
        usleep(10000);
    EXPECT_EQ(length, 0);
    FSOUND_Close();
}

// A mix rate or a channel count of 0 is an invalid parameter; one channel is enough.
TEST(Sound, InitRefusesARateOrAChannelCountOf0)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (const auto& [rate, channels] : {std::pair{0, 32}, std::pair{44100, 0}}) {
        EXPECT_FALSE(FSOUND_Init(rate, channels, 1));
        EXPECT_STREQ(SoundErrorString(FSOUND_GetError()), "An invalid parameter was passed to this function");
    }
    ASSERT_TRUE(FSOUND_Init(44100, 1, 1)) << FSOUND_GetError();
    FSOUND_Close();
}

TEST(SoundErrorString, GivesUnknownErrorOutsideTheTable)
{
    for (const auto& [code, message] : {std::pair{18, "Required Mediaplayer codec is not installed"}, std::pair{19, "Unknown error"},
                                        std::pair{-1, "Unknown error"}, std::pair{INT_MIN, "Unknown error"}})
        EXPECT_STREQ(SoundErrorString(code), message) << code;
}

// Start-up reports each failure on standard output and goes on without music.
TEST(Soundtrack, FailuresAreReportedAndStartUpGoesOn)
{
    char folder[] = "/tmp/quillmere-sound-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder) && chdir(folder) == 0);
    mkdir("folder.mp3", 0755);
    struct Case { const char* driver; const char* track; std::string lines; };
    for (const Case& c : {Case{"dummy", nullptr, "Error!\nFile not found\n"},
                          Case{"dummy", "garbage", "Error!\nUnknown file format\n"},
                          Case{"dummy", "folder", "Error!\nError loading file\n"},
                          Case{"nonexistent", "tone", "Error!\nError initializing output device.\nError!\n"
                                                      "This command failed because FSOUND_Init was not called\n"}}) {
        std::remove("Ondrelle.mp3");
        if (c.track && std::string(c.track) == "folder")
            rename("folder.mp3", "Ondrelle.mp3");
        else if (c.track && std::string(c.track) == "tone")
            Tone("Ondrelle.mp3", 0.2);
        else if (c.track)
            std::ofstream("Ondrelle.mp3", std::ios::binary) << std::string(4096, '\x7f');
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        testing::internal::CaptureStdout();
        StartSoundtrack();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.lines);
        EXPECT_EQ(g_soundtrackStream, nullptr);
        StopSoundtrack();
    }
}

}  // namespace
