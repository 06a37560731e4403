#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/soundtrack.h"
#include "app/soundtrackclock.h"
#include "sound/fsound.h"
#include "script/musicclock.h"
#include "script/scenefiles.h"
#include "sound/soundreader.h"

namespace {

// Waits for what the sound thread does are polled this many times, 10 ms or more apart: enough
// for a machine whose cores are busy with other work.
constexpr int kPatientPolls = 6000;

// A tone of that length; the mixer streams a WAV file as it does an mp3. A path ending in .mp3
// gets an mp3.
std::string Tone(const std::string& path, double seconds)
{
    const bool mp3 = path.size() > 4 && path.substr(path.size() - 4) == ".mp3";
    const std::string command = "sox -n -r 44100 -c 1 " + std::string(mp3 ? "-t wav -" : "'" + path + "'") + " synth "
        + std::to_string(seconds) + " sine 440" + (mp3 ? " | lame --quiet - '" + path + "'" : "");
    EXPECT_EQ(std::system(command.c_str()), 0);
    return path;
}

// SDL would turn SIGINT and SIGTERM into events that nobody reads. The position is what is heard:
// it follows the wall clock while playing, starts where a jump lands and stands still while
// paused; a jump made before playing or while paused is where playback starts, and a bad one
// changes nothing. At the end the callback gets no buffer and a length of 0.
TEST(Sound, PositionJumpsPauseLengthAndEnd)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction action;
        sigaction(signal, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
    }
    static std::atomic<int> length{-1};
    const std::string track = Tone("/tmp/quillmere-position-" + std::to_string(getpid()) + ".mp3", 3);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(track.c_str(), 0, 0, 0);
    std::remove(track.c_str());
    FSOUND_Stream_SetEndCallback(stream, [](FSOUND_STREAM*, void* buffer, int n, void*) { return (signed char)(length = buffer ? -2 : n); }, nullptr);
    EXPECT_NEAR(FSOUND_Stream_GetLength(stream), 3, 0.05);
    // The position moves on as the sound plays, however late the audio thread runs, and never
    // ahead of the wall clock by more than what is mixed ahead. (How closely it follows the wall
    // clock is a figure of the bench.)
    const auto playFor = [&](double from, double seconds) {
        const auto start = std::chrono::steady_clock::now();
        double position = from;
        for (int i = 0; i < kPatientPolls && position < from + seconds; ++i) {
            usleep(10000);
            position = FSOUND_Stream_GetTime(stream);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(position, from + seconds) << "from " << from;
        EXPECT_LE(position, from + wall + 0.15) << "from " << from;
    };
    // The position once it stands still: the buffer queued before a pause plays out first.
    const auto stillPosition = [&] {
        double before = -1, now = FSOUND_Stream_GetTime(stream);
        for (int i = 0; i < kPatientPolls && now != before; ++i) {
            usleep(100000);
            before = now;
            now = FSOUND_Stream_GetTime(stream);
        }
        return now;
    };
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 1));
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    playFor(1, 0.4);
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 0.25));
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 0.25);
    playFor(0.25, 0.3);
    for (double bad : {-0.001, 3.0, double(NAN), double(INFINITY)}) {
        const double before = FSOUND_Stream_GetTime(stream);
        EXPECT_FALSE(FSOUND_Stream_SetTime(stream, bad)) << bad;
        EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM) << bad;
        EXPECT_NEAR(FSOUND_Stream_GetTime(stream), before, 0.05) << bad;
    }
    ASSERT_TRUE(FSOUND_Stream_SetPaused(stream, 1));
    const double paused = stillPosition();
    usleep(300000);
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), paused);
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 2));
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 2);
    ASSERT_TRUE(FSOUND_Stream_SetPaused(stream, 0));
    playFor(2, 0.3);
    for (int i = 0; i < kPatientPolls && length < 0; ++i)
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

// The file is read once: what a FIFO gives the second time it is opened is never decoded.
TEST(Sound, TheFileIsReadOnce)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 4, 1)) << FSOUND_GetError();
    const std::string base = "/tmp/quillmere-once-" + std::to_string(getpid());
    std::ifstream toneFile(Tone(base + ".wav", 0.2), std::ios::binary);
    const std::string tone((std::istreambuf_iterator<char>(toneFile)), std::istreambuf_iterator<char>());
    ASSERT_EQ(mkfifo(base.c_str(), 0600), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        std::ofstream(base, std::ios::binary) << tone;
        // Once the reader has let go of the first (a writer's open finds no reader), every new
        // open that reads gets other bytes.
        for (;;) {
            const int probe = open(base.c_str(), O_WRONLY | O_NONBLOCK);
            if (probe >= 0) {
                close(probe);
                usleep(10000);
                continue;
            }
            std::ofstream(base, std::ios::binary) << std::string(4096, '\x7f');
        }
    }
    FSOUND_STREAM* stream = FSOUND_Stream_Open(base.c_str(), 0, 0, 0);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    std::remove(base.c_str()), std::remove((base + ".wav").c_str());
    ASSERT_NE(stream, nullptr) << FSOUND_GetError();
    EXPECT_NEAR(FSOUND_Stream_GetLength(stream), 0.2, 0.02);
    FSOUND_Close();
}

// A failure is never a channel, a time or a length: a stream that is not open and a channel
// out of range give -1 and the invalid-parameter code.
TEST(Sound, CallsOnABadStreamOrChannelGiveMinusOne)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 4, 1)) << FSOUND_GetError();
    const std::string track = Tone("/tmp/quillmere-bad-" + std::to_string(getpid()) + ".wav", 0.2);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(track.c_str(), 0, 0, 0);
    std::remove(track.c_str());
    ASSERT_NE(stream, nullptr);
    for (int channel : {-2, 4})
        EXPECT_EQ(FSOUND_Stream_Play(channel, stream), -1) << channel;
    ASSERT_TRUE(FSOUND_Stream_Close(stream));
    for (FSOUND_STREAM* bad : {static_cast<FSOUND_STREAM*>(nullptr), stream}) {
        EXPECT_EQ(FSOUND_Stream_Play(-1, bad), -1);
        EXPECT_EQ(FSOUND_Stream_GetTime(bad), -1);
        EXPECT_EQ(FSOUND_Stream_GetLength(bad), -1);
        EXPECT_EQ(FSOUND_GetError(), FSOUND_ERR_INVALID_PARAM);
    }
    FSOUND_Close();
}

// Without a stream the clock runs with the wall clock; a pause stands at the time it began,
// however long since the clock was last read, and the time goes on from there on resuming.
TEST(SoundtrackClock, APauseStandsAtTheTimeItBegan)
{
    SoundtrackClock clock;
    clock.Start(nullptr);
    usleep(200000);
    clock.SetPaused(true);
    const double paused = clock.Time();
    EXPECT_GE(paused, 0.2);
    usleep(200000);
    EXPECT_EQ(clock.Time(), paused);
    const auto resumed = std::chrono::steady_clock::now();
    clock.SetPaused(false);
    usleep(100000);
    const double ran = clock.Time() - paused;
    const double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
    EXPECT_GE(ran, 0.1);
    EXPECT_LE(ran, since);
}

// prod.lua runs before the music's length is known: a jump or a loop it set that lies past the
// end is dropped once the music starts, each with a line that says so.
TEST(SoundtrackClock, AJumpOrALoopPastTheEndOfTheMusicIsDroppedWithALine)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1)) << FSOUND_GetError();
    const std::string track = Tone("/tmp/quillmere-past-" + std::to_string(getpid()) + ".wav", 1);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(track.c_str(), 0, 0, 0);
    std::remove(track.c_str());
    ASSERT_NE(stream, nullptr);
    SoundtrackClock clock;
    clock.Seek(5);
    clock.SetLoop(0.5, 3);
    testing::internal::CaptureStdout();
    clock.Start(stream);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "setMusicTime: 5 lies past the end of the music (1 s); it plays from the start\n"
              "setMusicLoop: the loop's end 3 lies past the end of the music (1 s); no loop\n");
    double from = 0, to = 0;
    EXPECT_FALSE(clock.Loop(from, to));
    EXPECT_LT(clock.Time(), 0.5);
    FSOUND_Close();
}

TEST(SoundErrorString, GivesUnknownErrorOutsideTheTable)
{
    for (int code : {19, -1, INT_MIN})
        EXPECT_STREQ(SoundErrorString(code), "Unknown error") << code;
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

// Music longer than the program analyses is refused with one line that names it and says how
// long it is, and start-up goes on without music. Copies of a minute of mp3 follow one another to
// make six hours and five minutes in no time.
TEST(Soundtrack, MusicLongerThanSixHoursIsRefusedWithOneLine)
{
    char folder[] = "/tmp/quillmere-long-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder) && chdir(folder) == 0);
    ASSERT_EQ(std::system("sox -n -r 8000 -c 1 -t wav - synth 60 sine 440 2>/dev/null | lame --quiet -t -b 8 - minute.mp3"
                          " && for i in $(seq 365); do cat minute.mp3; done > Ondrelle.mp3"), 0);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    StartSoundtrack();
    const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_soundtrackStream, nullptr);
    StopSoundtrack();
    EXPECT_EQ(out, "");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("quillmere: no soundtrack (Ondrelle.mp3: 6:0", 0), 0u) << err;
    EXPECT_NE(err.find(" of music, longer than the 6:00:00 a soundtrack may last)"), std::string::npos) << err;
    EXPECT_EQ(chdir("/tmp"), 0);
    std::system(("rm -r " + std::string(folder)).c_str());
}

// A soundtrack in a format that the analysis and the loop do not decode (MIDI) plays, and each
// says so in a line: its values stay 0, and setMusicLoop sets no loop.
TEST(Soundtrack, MusicTheAnalysisCannotDecodeIsNamedAndTakesNoLoop)
{
    char folder[] = "/tmp/quillmere-midi-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder) && chdir(folder) == 0);
    // One note for a second.
    const unsigned char note[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 1, 0xe0, 'M', 'T', 'r', 'k', 0, 0, 0, 13,
                                  0, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, 0, 0xff, 0x2f, 0};
    std::ofstream("note.mid", std::ios::binary).write(reinterpret_cast<const char*>(note), sizeof note);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ChooseSoundtrack("note.mid", "note.mid", true);
    InstallSoundtrackClock();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    StartSoundtrack();
    g_musicClock->SetLoop(0, 0.5);
    double from, to;
    EXPECT_FALSE(g_musicClock->Loop(from, to));
    EXPECT_NE(g_soundtrackStream, nullptr);
    StopSoundtrack();
    ChooseSoundtrack(kDefaultSoundtrack, kDefaultSoundtrack, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "setMusicLoop: the soundtrack's format cannot loop (WAV, FLAC, Ogg Vorbis, Opus and MP3 can); no loop\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "quillmere: note.mid: the analysis reads WAV, FLAC, Ogg Vorbis, Opus and MP3 only; the music's values stay 0\n");
    EXPECT_EQ(chdir("/tmp"), 0);
    std::system(("rm -r " + std::string(folder)).c_str());
}

}  // namespace

namespace {

// White noise, so that every stretch of it is found in one place only.
std::string Noise(const std::string& path, double seconds)
{
    const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + path + "' synth " + std::to_string(seconds) + " whitenoise vol 0.5";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return path;
}

// The file's 16-bit stereo frames at 44.1 kHz, as the output plays them.
std::vector<int16_t> Decoded(const std::string& path)
{
    int error = 0;
    const std::unique_ptr<SoundReader> reader = SoundReader::Open(SoundFile::Open(path, error), 44100, 2);
    std::vector<int16_t> samples;
    int16_t piece[2 * 4096];
    while (const long long got = reader ? reader->Read(piece, 4096) : 0)
        samples.insert(samples.end(), piece, piece + 2 * got);
    return samples;
}

// Plays the track through SDL's disk driver, which writes what the output plays faster than real
// time, until it holds `seconds` of sound; `prepare` has the stream before it plays, and `midway`
// once the output holds `midwaySeconds`.
std::vector<int16_t> PlayedThroughDisk(const std::string& track, double seconds,
                                       const std::function<void(FSOUND_STREAM*)>& prepare,
                                       double midwaySeconds = 0, const std::function<void(FSOUND_STREAM*)>& midway = {})
{
    const std::string raw = "/tmp/quillmere-disk-" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "10", 1);
    EXPECT_TRUE(FSOUND_Init(44100, 32, 1));
    FSOUND_STREAM* stream = FSOUND_Stream_Open(track.c_str(), 0, 0, 0);
    prepare(stream);
    EXPECT_GE(FSOUND_Stream_Play(-1, stream), 0);
    const auto waitFor = [&](double heard) {
        struct stat status;
        for (int i = 0; i < kPatientPolls && (stat(raw.c_str(), &status) != 0 || status.st_size < heard * 44100 * 4); ++i)
            usleep(10000);
    };
    if (midway) {
        waitFor(midwaySeconds);
        midway(stream);
    }
    waitFor(seconds);
    FSOUND_Close();
    unsetenv("SDL_AUDIODRIVER");
    std::ifstream file(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    std::vector<int16_t> played(bytes.size() / 2);
    std::memcpy(played.data(), bytes.data(), played.size() * 2);
    return played;
}

// Walks what was played from `first` to `last` against expected(0), expected(1), ...: counts
// the samples that differ, and in `matched` those that agree. A loop whose decoder fell behind
// (the disk driver plays many times faster than real time, on a busy machine) leaves the rest of
// that output buffer silent and goes on where it was with the next: such a gap is no fault, any
// other silence is.
template <typename Expected>
long WrongBesideGaps(const std::vector<int16_t>& played, long first, long last, Expected&& expected, long& matched)
{
    constexpr long kBufferSamples = 4096 * 2;
    long wrong = 0, j = 0, silenceEnd = first;
    matched = 0;
    for (long i = first; i < last; ++i) {
        const bool agrees = played[size_t(i)] == expected(j);
        if (!agrees && played[size_t(i)] == 0) {
            // Where the silence from here ends, found once for the whole run of it.
            if (silenceEnd <= i)
                for (silenceEnd = i; silenceEnd < last && played[size_t(silenceEnd)] == 0;)
                    ++silenceEnd;
            if (silenceEnd % kBufferSamples == 0 || silenceEnd == last) {
                i = silenceEnd - 1;
                continue;
            }
        }
        ++(agrees ? matched : wrong);
        ++j;
    }
    return wrong;
}

} // namespace

// What the output plays: the music up to the loop's end, then again and again from the loop's
// start, each frame the file's own. Also for a loop that ends where the music does, which the
// music's own end reaches first, and starts at a frame that a time in floating point misses; for
// a file cut short of what its header says, whose loop goes back where the music ends; and for a
// loop moved while it plays.
TEST(SoundLoop, PlaysToTheSampleFromTheLoopsStartOnReachingItsEnd)
{
    const std::string base = "/tmp/quillmere-loop-" + std::to_string(getpid());
    const std::string whole = Noise(base + ".wav", 4), cut = base + "-cut.wav";
    // 3 s of the 4 s the header gives, after its 44 bytes.
    ASSERT_EQ(std::system(("head -c " + std::to_string(44 + 3 * 44100 * 4) + " " + whole + " > " + cut).c_str()), 0);
    const std::vector<int16_t> sound = Decoded(whole);
    const int16_t* samples = sound.data();
    struct Case {
        std::string track;
        double from, to, end;
    };
    // The last two loops are longer than what the loop decodes ahead.
    for (const Case& c : {Case{whole, 0.25, 0.5, 0.5}, Case{whole, 1.4, 4.0, 4.0}, Case{cut, 0.5, 4.0, 3.0}}) {
        // A second more for the silence before the music.
        const std::vector<int16_t> played = PlayedThroughDisk(c.track, 1 + c.end + 5 * (c.end - c.from), [&](FSOUND_STREAM* stream) {
            EXPECT_TRUE(FSOUND_Stream_SetLoopPoints(stream, c.from, c.to));
            for (auto [from, to] : {std::pair{c.to, c.from}, {-1.0, c.to}, {0.0, 4.5}})
                EXPECT_FALSE(FSOUND_Stream_SetLoopPoints(stream, from, to)) << from << " " << to;
        });
        // Silence comes first, while the device waited for the music.
        const auto start = std::search(played.begin(), played.end(), samples, samples + 64);
        ASSERT_NE(start, played.end());
        const long from = std::lround(c.from * 44100) * 2, end = std::lround(c.end * 44100) * 2;
        // Once the music is halted the device may write a last buffer of silence before it closes.
        const auto last = std::find_if(played.rbegin(), played.rend(), [](int16_t x) { return x != 0; }).base();
        long matched;
        const long wrong = WrongBesideGaps(played, long(start - played.begin()), long(last - played.begin()), [&](long i) {
            return samples[size_t(i < end ? i : from + (i - end) % (end - from))];
        }, matched);
        EXPECT_EQ(wrong, 0) << "of " << matched + wrong << " samples, loop " << c.from << " to " << c.to << " in " << c.track;
        EXPECT_GT(matched, end + 2 * (end - from)) << "the loop did not go round twice";
    }
    // Moved while it plays, the loop plays on to the new loop's end, and round that from then on.
    const std::vector<int16_t> played = PlayedThroughDisk(
        whole, 8, [](FSOUND_STREAM* stream) { FSOUND_Stream_SetLoopPoints(stream, 0.25, 0.5); }, 2,
        [](FSOUND_STREAM* stream) { EXPECT_TRUE(FSOUND_Stream_SetLoopPoints(stream, 2.0, 2.5)); });
    const long from = 2 * 44100 * 2, end = long(2.5 * 44100) * 2;
    const auto last = std::find_if(played.rbegin(), played.rend(), [](int16_t x) { return x != 0; }).base();
    // The last second, from its first stretch of sound (not a gap).
    auto tail = last - 44100 * 2;
    while (tail + 64 < last && std::find(tail, tail + 64, 0) != tail + 64)
        ++tail;
    const auto at = std::search(samples + from, samples + end, tail, tail + 64);
    ASSERT_NE(at, samples + end) << "the end of what was played is not in the new loop";
    long matched;
    const long k = long(at - samples);
    EXPECT_EQ(WrongBesideGaps(played, long(tail - played.begin()), long(last - played.begin()), [&](long i) { return samples[from + (k - from + i) % (end - from)]; },
                              matched), 0);
    std::remove(whole.c_str());
    std::remove(cut.c_str());
}

// What the analysis, the waveform and the loop read is what the output plays, also from a file at
// another rate: the converter rounds once a piece of what it is given, so pieces of another size
// than the mixer's would put the frames ever further apart. The decoders differ by a unit or two.
TEST(SoundReader, ReadsWhatTheOutputPlaysOfAFileAtAnotherRate)
{
    const std::string track = "/tmp/quillmere-rate-" + std::to_string(getpid()) + ".mp3";
    ASSERT_EQ(std::system(("sox -n -r 32000 -c 1 -t wav - synth 3 whitenoise vol 0.5 2>/dev/null"
                           " | lame --quiet -m m -b 64 - " + track).c_str()), 0);
    const std::vector<int16_t> decoded = Decoded(track);
    const std::vector<int16_t> played = PlayedThroughDisk(track, 4, [](FSOUND_STREAM*) {});
    std::remove(track.c_str());
    ASSERT_GT(decoded.size(), size_t(2.9 * 44100 * 2));
    const auto near = [](int16_t a, int16_t b) { return std::abs(a - b) <= 3; };
    const auto start = std::search(played.begin(), played.end(), decoded.begin(), decoded.begin() + 256, near);
    ASSERT_LE(start + long(decoded.size()), played.end());
    long wrong = 0;
    for (size_t i = 0; i < decoded.size(); ++i)
        wrong += !near(start[long(i)], decoded[i]);
    EXPECT_EQ(wrong, 0) << "of " << decoded.size() << " samples";
}

// In real time: the position goes back to the loop's start at its end, never past either, a loop
// up to the end keeps the music from ending, a jump inside the loop plays on from there to the
// loop's end, a pause holds the loop still, and once the loop is removed the music plays on from
// there to its end. (How close to the end the jump is read is a figure of the bench.)
TEST(SoundLoop, ThePositionGoesBackAtTheEndAndTheMusicEndsOnlyWithoutTheLoop)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(FSOUND_Init(44100, 32, 1));
    const std::string track = Noise("/tmp/quillmere-loopend-" + std::to_string(getpid()) + ".wav", 1);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(track.c_str(), 0, 0, 0);
    std::remove(track.c_str());
    static std::atomic<bool> ended{false};
    FSOUND_Stream_SetEndCallback(stream, [](FSOUND_STREAM*, void*, int, void*) { ended = true; return (signed char)1; }, nullptr);
    ASSERT_TRUE(FSOUND_Stream_SetLoopPoints(stream, 0.5, 1));
    ASSERT_GE(FSOUND_Stream_Play(-1, stream), 0);
    // Waits for that many jumps back, from `latest` on.
    const auto jumpsFrom = [&](double latest, int wanted) {
        int jumps = 0;
        for (int i = 0; i < 10 * kPatientPolls && jumps < wanted; ++i) {
            const double now = FSOUND_Stream_GetTime(stream);
            EXPECT_LE(now, 1 + 0.010);
            if (now < latest - 0.25) {
                ++jumps;
                EXPECT_GE(now, 0.5 - 0.010) << "jump " << jumps;
            }
            latest = now;
            usleep(1000);
        }
        return jumps;
    };
    EXPECT_EQ(jumpsFrom(0, 2), 2);
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 0.6));
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 0.6);
    EXPECT_EQ(jumpsFrom(0.6, 1), 1);
    // Paused in the loop the music stands still, and resumed it goes on round the loop.
    ASSERT_TRUE(FSOUND_Stream_SetPaused(stream, 1));
    const double paused = FSOUND_Stream_GetTime(stream);
    usleep(300000);
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), paused);
    ASSERT_TRUE(FSOUND_Stream_SetPaused(stream, 0));
    EXPECT_EQ(jumpsFrom(paused, 1), 1);
    EXPECT_FALSE(ended);
    ASSERT_TRUE(FSOUND_Stream_SetLoopPoints(stream, 0, 0));
    // It goes on from where the loop had got to.
    EXPECT_GE(FSOUND_Stream_GetTime(stream), 0.5);
    for (int i = 0; i < kPatientPolls && !ended; ++i)
        usleep(10000);
    EXPECT_TRUE(ended);
    FSOUND_Close();
}
