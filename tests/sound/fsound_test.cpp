#include "sound/fsound.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr int kRate = 22050;

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "fsound_test_" + name;
}

void PutLe(std::FILE* f, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        std::fputc(int((value >> (8 * i)) & 0xff), f);
}

// A mono 16-bit WAV with a 440 Hz tone; the mixer streams it as it does an mp3.
std::string WriteTone(const std::string& name, double seconds)
{
    const std::string path = TempPath(name);
    const uint32_t samples = uint32_t(seconds * kRate);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("RIFF", f), PutLe(f, 36 + samples * 2, 4), std::fputs("WAVEfmt ", f);
    PutLe(f, 16, 4), PutLe(f, 1, 2), PutLe(f, 1, 2), PutLe(f, kRate, 4), PutLe(f, kRate * 2, 4);
    PutLe(f, 2, 2), PutLe(f, 16, 2), std::fputs("data", f), PutLe(f, samples * 2, 4);
    for (uint32_t i = 0; i < samples; ++i)
        PutLe(f, uint16_t(int16_t(8000 * std::sin(2 * M_PI * 440 * i / kRate))), 2);
    std::fclose(f);
    return path;
}

std::atomic<int> g_ends{0};
std::atomic<void*> g_endUserData{nullptr};

signed char CountEnd(FSOUND_STREAM*, void*, int, void* userData)
{
    g_endUserData = userData;
    ++g_ends;
    return 1;
}

bool WaitForEnds(int count)
{
    for (int i = 0; i < 500 && g_ends.load() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return g_ends.load() >= count;
}

// "disk" plays as fast as it decodes; "dummy" plays in real time without a device.
class Sound : public ::testing::Test {
protected:
    void Init(const char* driver)
    {
        setenv("SDL_AUDIODRIVER", driver, 1);
        setenv("SDL_DISKAUDIODELAY", "0", 1);
        setenv("SDL_DISKAUDIOFILE", TempPath("out.raw").c_str(), 1);
        ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    }
    void SetUp() override { g_ends = 0; }
    void TearDown() override { FSOUND_Close(); }
};

TEST_F(Sound, AStreamPlaysThroughAndReportsItsEndOnce)
{
    Init("disk");
    FSOUND_STREAM* stream = FSOUND_Stream_Open(WriteTone("short.wav", 0.3).c_str(), 0x20000, 0, 0);
    ASSERT_NE(stream, nullptr) << FSOUND_GetError();
    EXPECT_EQ(FSOUND_Stream_Play(-1, stream), 0);
    int marker = 0;
    EXPECT_TRUE(FSOUND_Stream_SetEndCallback(stream, CountEnd, &marker));
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_EQ(g_endUserData.load(), &marker);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(g_ends.load(), 1);
}

TEST_F(Sound, AnEndBeforeTheCallbackIsSetIsStillReported)
{
    Init("disk");
    FSOUND_STREAM* stream = FSOUND_Stream_Open(WriteTone("tiny.wav", 0.05).c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr);
    FSOUND_Stream_Play(-1, stream);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FSOUND_Stream_SetEndCallback(stream, CountEnd, nullptr);
    EXPECT_TRUE(WaitForEnds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_ends.load(), 1);
}

TEST_F(Sound, StoppingTheMusicIsNotItsEnd)
{
    Init("dummy");
    const std::string path = WriteTone("long.wav", 5);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(path.c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr);
    FSOUND_Stream_Play(-1, stream);
    FSOUND_Stream_SetEndCallback(stream, CountEnd, nullptr);
    EXPECT_TRUE(FSOUND_Stream_Close(stream));

    // Streams left open are released by FSOUND_Close, still without an end.
    stream = FSOUND_Stream_Open(path.c_str(), 0, 0, 0);
    FSOUND_Stream_Play(-1, stream);
    FSOUND_Stream_SetEndCallback(stream, CountEnd, nullptr);
    FSOUND_Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_ends.load(), 0);
}

TEST_F(Sound, FilesThatCannotBeStreamedAreToldApart)
{
    Init("dummy");
    EXPECT_EQ(FSOUND_Stream_Open(TempPath("missing.mp3").c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_FILE_NOTFOUND);

    const std::string garbage = TempPath("garbage.mp3");
    std::FILE* f = std::fopen(garbage.c_str(), "wb");
    for (int i = 0; i < 4096; ++i)
        std::fputc((i * 7919) % 251, f);
    std::fclose(f);
    EXPECT_EQ(FSOUND_Stream_Open(garbage.c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_FILE_FORMAT);

    const std::string directory = TempPath("directory.mp3");
    mkdir(directory.c_str(), 0755);
    EXPECT_EQ(FSOUND_Stream_Open(directory.c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_FILE_BAD);
}

TEST_F(Sound, RequestsWithoutAStreamAreRefused)
{
    Init("dummy");
    EXPECT_EQ(FSOUND_Stream_Play(-1, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
    EXPECT_FALSE(FSOUND_Stream_SetEndCallback(nullptr, CountEnd, nullptr));
    EXPECT_FALSE(FSOUND_Stream_Close(nullptr));

    FSOUND_STREAM* stream = FSOUND_Stream_Open(WriteTone("closed.wav", 0.1).c_str(), 0, 0, 0);
    ASSERT_TRUE(FSOUND_Stream_Close(stream));
    EXPECT_FALSE(FSOUND_Stream_Close(stream));
    EXPECT_EQ(FSOUND_Stream_Play(-1, stream), -1);
    EXPECT_EQ(g_ends.load(), 0);
}

TEST(SoundDevice, InitialisationIsReportedAndNeeded)
{
    const std::string tone = WriteTone("uninit.wav", 0.1);
    setenv("SDL_AUDIODRIVER", "nonexistent", 1);
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1));
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INIT);
    // The file is still looked at, so a missing one is reported as such.
    EXPECT_EQ(FSOUND_Stream_Open(TempPath("missing.mp3").c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_FILE_NOTFOUND);
    EXPECT_EQ(FSOUND_Stream_Open(tone.c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_UNINITIALIZED);

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1));
    EXPECT_FALSE(FSOUND_Init(44100, 32, 1));
    EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INITIALIZED);
    FSOUND_Close();
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << "not open again after FSOUND_Close";
    FSOUND_Close();
}

}  // namespace
