// The music's analysis on synthetic sound: levels, bands, spectrum, onsets and tempo.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/musicanalysis.h"
#include "analysis/soundtrackanalysis.h"
#include "analysis/tempoestimate.h"
#include "sound/soundreader.h"

namespace {

constexpr int kRate = 44100;
// One analysis step, in seconds: how far from an edge a value may still be in between.
constexpr double kStep = double(kAnalysisHop) / kRate;
// Half a window and a step: from there on both steps a value reads lie wholly on one side.
constexpr double kSettled = double(kAnalysisWindow / 2 + kAnalysisHop) / kRate;

// The analysis of interleaved frames, handed over in pieces of another size than it asks for.
std::unique_ptr<MusicAnalysis> AnalyseFrames(const std::vector<int16_t>& samples, int channels,
                                             const std::atomic<bool>& cancel)
{
    size_t at = 0;
    return MusicAnalysis::Analyse(
        [&](int16_t* out, long long frames) {
            const long long n = std::min<long long>({frames, 1000, (long long)(samples.size() - at) / channels});
            std::copy_n(samples.begin() + long(at), n * channels, out);
            at += size_t(n * channels);
            return n;
        },
        kRate, channels, cancel);
}

struct Track {
    std::vector<int16_t> samples;

    Track& Tone(double hz, double seconds, double amplitude)
    {
        const size_t start = samples.size();
        for (long i = 0; i < long(seconds * kRate); ++i)
            samples.push_back(int16_t(std::lround(32767 * amplitude * std::sin(2 * M_PI * hz * double(start + i) / kRate))));
        return *this;
    }
    Track& Silence(double seconds)
    {
        samples.resize(samples.size() + size_t(seconds * kRate), 0);
        return *this;
    }
    // A 5 ms burst of 3 kHz at every beat from `first` on.
    Track& Clicks(double bpm, double seconds, double first)
    {
        const size_t start = samples.size();
        Silence(seconds);
        for (double beat = first; beat < seconds; beat += 60 / bpm)
            for (int i = 0; i < kRate / 200; ++i)
                samples[start + size_t(beat * kRate) + i] = int16_t(20000 * std::sin(2 * M_PI * 3000.0 * i / kRate));
        return *this;
    }
    std::unique_ptr<MusicAnalysis> Analyse() const
    {
        const std::atomic<bool> cancel{false};
        return AnalyseFrames(samples, 1, cancel);
    }
};

double Mapped(double db)
{
    return std::clamp((db + 60) / 60, 0.0, 1.0);
}

// 1 kHz at half scale, silence, then 100 Hz at full scale: a second each.
class ToneSilenceTone : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        analysis = Track().Tone(1000, 1, 0.5).Silence(1).Tone(100, 1, 1).Analyse().release();
    }
    static void TearDownTestSuite() { delete analysis; }
    static MusicAnalysis* analysis;
};
MusicAnalysis* ToneSilenceTone::analysis = nullptr;

TEST_F(ToneSilenceTone, LevelIsTheLoudnessInDecibelsMappedFromMinus60To0)
{
    const double halfScale = Mapped(20 * std::log10(0.5));
    EXPECT_NEAR(analysis->Level(0.5), halfScale, 0.01);
    EXPECT_NEAR(analysis->Level(1 - kSettled), halfScale, 0.01);
    EXPECT_EQ(analysis->Level(1 + kSettled), 0);
    EXPECT_EQ(analysis->Level(2 - kSettled), 0);
    EXPECT_NEAR(analysis->Level(2.5), 1, 0.01);
    // Before the start, past the end, and for times that are none.
    for (double t : {-1.0, 3.1, 100.0, double(NAN)})
        EXPECT_EQ(analysis->Level(t), 0) << t;
}

TEST_F(ToneSilenceTone, BandsHoldTheirOwnFrequenciesAndNoOthers)
{
    const double halfScale = Mapped(20 * std::log10(0.5));
    EXPECT_NEAR(analysis->Band(0.5, 900, 1100), halfScale, 0.01);
    // However wide the band, and wherever the tone lies in it.
    EXPECT_NEAR(analysis->Band(0.5, 990, 5000), halfScale, 0.01);
    EXPECT_NEAR(analysis->Band(0.5, 0, kRate / 2), halfScale, 0.01);
    // Wide bands sum blocks of bins: the tone in the bins after the last whole block, and in a
    // whole block between loose bins.
    EXPECT_NEAR(analysis->Band(0.5, 0, 1100), halfScale, 0.01);
    EXPECT_NEAR(analysis->Band(0.5, 200, 1750), halfScale, 0.01);
    EXPECT_LT(analysis->Band(0.5, 40, 160), 0.05);
    EXPECT_LT(analysis->Band(0.5, 2000, 16000), 0.05);
    EXPECT_EQ(analysis->Band(1.5, 0, kRate / 2), 0);
    EXPECT_NEAR(analysis->Band(2.5, 40, 160), 1, 0.01);
    EXPECT_LT(analysis->Band(2.5, 900, 1100), 0.05);
    // A band narrower than a bin reads the bin nearest its middle.
    EXPECT_GT(analysis->Band(0.5, 1000, 1001), 0.8);
    // Within a step of the edges, the band already or still reads its tone.
    EXPECT_GT(analysis->Band(2 + kSettled, 40, 160), 0.95);
    EXPECT_EQ(analysis->Band(2 - kSettled, 40, 160), 0);
}

TEST_F(ToneSilenceTone, ValuesBetweenStepsLieOnTheLineBetweenThem)
{
    // Across the edge into the 100 Hz tone the values change from step to step.
    const double k = std::floor(2.0 / kStep);
    for (double part : {0.25, 0.5, 0.75}) {
        const double at = (k + part) * kStep;
        const double expected = analysis->Band(k * kStep, 40, 160) * (1 - part) + analysis->Band((k + 1) * kStep, 40, 160) * part;
        EXPECT_NEAR(analysis->Band(at, 40, 160), expected, 1e-6) << part;
        EXPECT_NEAR(analysis->Level(at), analysis->Level(k * kStep) * (1 - part) + analysis->Level((k + 1) * kStep) * part, 1e-6);
    }
}

TEST_F(ToneSilenceTone, SpectrumBandsAreLogSpacedFrom30HzTo16kHz)
{
    std::vector<float> bands(64);
    analysis->Spectrum(0.5, 64, bands.data());
    const int loudest = int(std::max_element(bands.begin(), bands.end()) - bands.begin());
    const double low = kSpectrumLowHz * std::pow(kSpectrumHighHz / kSpectrumLowHz, loudest / 64.0);
    const double high = kSpectrumLowHz * std::pow(kSpectrumHighHz / kSpectrumLowHz, (loudest + 1) / 64.0);
    EXPECT_LE(low, 1000);
    EXPECT_GT(high, 1000);
    EXPECT_NEAR(bands[size_t(loudest)], analysis->Band(0.5, low, high), 1e-6);
    EXPECT_LT(bands[0], 0.05);
    EXPECT_LT(bands[63], 0.05);
    float one = -1;
    analysis->Spectrum(2.5, 1, &one);
    EXPECT_NEAR(one, analysis->Band(2.5, kSpectrumLowHz, kSpectrumHighHz), 1e-6);
    std::vector<float> many(kMaxSpectrumBands);
    analysis->Spectrum(1.5, kMaxSpectrumBands, many.data());
    EXPECT_EQ(*std::max_element(many.begin(), many.end()), 0);
}

// Steps are kept in chunks of 47 s or so: values are read across a chunk's edge as anywhere else.
TEST(MusicAnalysis, ValuesHoldPastTheFirstMinute)
{
    const auto analysis = Track().Silence(47).Tone(1000, 2, 0.5).Analyse();
    const double halfScale = Mapped(20 * std::log10(0.5));
    EXPECT_EQ(analysis->Level(47 - kSettled), 0);
    EXPECT_EQ(analysis->Band(47 - kSettled, 900, 1100), 0);
    for (double t = 47 + kSettled; t < 49 - kSettled; t += 0.1) {
        EXPECT_NEAR(analysis->Level(t), halfScale, 0.01) << t;
        EXPECT_NEAR(analysis->Band(t, 900, 1100), halfScale, 0.01) << t;
    }
    EXPECT_NEAR(analysis->Length(), 49, 1e-3);
}

TEST(MusicAnalysis, OnsetsAreHighJustAfterAHitAndNoneBetween)
{
    const auto analysis = Track().Clicks(120, 4, 0.5).Analyse();
    for (double hit = 0.5; hit < 3.9; hit += 0.5) {
        EXPECT_GT(analysis->Onset(hit + kStep, 0, kRate / 2), 0.5) << hit;
        EXPECT_GT(analysis->Onset(hit + kStep, 2000, 4000), 0.5) << hit;
        EXPECT_EQ(analysis->Onset(hit - 0.1, 0, kRate / 2), 0) << hit;
        EXPECT_EQ(analysis->Onset(hit + 0.15, 0, kRate / 2), 0) << hit;
    }
    // A steady tone has no onset once it has begun.
    const auto tone = Track().Tone(440, 2, 0.5).Analyse();
    EXPECT_EQ(tone->Onset(1, 0, kRate / 2), 0);
}

TEST(MusicAnalysis, TheTempoOfAClickTrackAndItsFirstBeat)
{
    for (double bpm : {128.0, 90.0, 171.0}) {
        const auto analysis = Track().Silence(0.3).Clicks(bpm, 20, 0.2).Analyse();
        const MusicTempo tempo = analysis->EstimatedTempo();
        EXPECT_NEAR(tempo.bpm, bpm, bpm * 0.01) << bpm;
        EXPECT_NEAR(tempo.firstBeat, 0.5, 2 * kStep) << bpm;
    }
    EXPECT_EQ(Track().Tone(440, 5, 0.5).Analyse()->EstimatedTempo().bpm, 0);
    EXPECT_EQ(Track().Silence(5).Analyse()->EstimatedTempo().bpm, 0);
}

TEST(MusicAnalysis, StereoIsMixedToMonoAndACancelledAnalysisGivesNothing)
{
    Track mono;
    mono.Tone(1000, 1, 0.5);
    std::vector<int16_t> stereo;
    for (int16_t s : mono.samples)
        stereo.insert(stereo.end(), {s, s});
    std::atomic<bool> cancel{false};
    const auto analysis = AnalyseFrames(stereo, 2, cancel);
    EXPECT_NEAR(analysis->Level(0.5), Mapped(20 * std::log10(0.5)), 0.01);
    EXPECT_NEAR(analysis->Length(), 1, 1e-3);
    cancel = true;
    EXPECT_EQ(AnalyseFrames(stereo, 2, cancel), nullptr);
}

// The demo's soundtrack, decoded as the program decodes it, is at 100 beats a minute.
TEST(MusicAnalysis, TheDemoSoundtrackIsAt100Bpm)
{
    int error = 0;
    const std::unique_ptr<SoundReader> reader = SoundReader::Open(SoundFile::Open(QM_SOURCE_DIR "/demo/Ondrelle.mp3", error), kRate, 2);
    ASSERT_NE(reader, nullptr);
    const std::atomic<bool> cancel{false};
    const auto analysis = MusicAnalysis::Analyse([&](int16_t* samples, long long frames) { return reader->Read(samples, frames); },
                                                 kRate, 2, cancel);
    EXPECT_NEAR(analysis->EstimatedTempo().bpm, 100, 1);
    EXPECT_GT(analysis->Length(), 170);
}

} // namespace

namespace {

// The soundtrack's analysis as the program runs it: nothing until it is ready, then the values
// of the file, the texture's rows among them; the tempo set by a script over the estimate.
TEST(SoundtrackAnalysis, ReadsZeroUntilReadyThenTheFilesValues)
{
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::vector<float> spectrum(kMusicTextureWidth, -1), waveform(kMusicTextureWidth, -1);
    FillMusicTextureRows(0.5, spectrum.data(), waveform.data());
    EXPECT_EQ(*std::max_element(spectrum.begin(), spectrum.end()), 0);
    EXPECT_EQ(*std::min_element(waveform.begin(), waveform.end()), 0.5);
    EXPECT_EQ(CurrentMusicTempo().bpm, 0);

    const std::string path = "/tmp/quillmere-analysis-" + std::to_string(getpid()) + ".wav";
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + path + " synth 2 sine 1000 vol 0.5").c_str()), 0);
    int error = 0;
    StartMusicAnalysis(SoundFile::Open(path, error), kRate, "tone.wav");
    ASSERT_TRUE(WaitForMusicAnalysis());
    // The file stays open for the waveform, which decodes it as it is asked for.
    std::remove(path.c_str());
    ASSERT_NE(ReadyMusicAnalysis(), nullptr);
    FillMusicTextureRows(0.5, spectrum.data(), waveform.data());
    // The loudest of the 512 log-spaced bands lies within a bin (21.5 Hz) of 1 kHz: there the
    // bands are narrower than the bins.
    const int loudest = int(std::max_element(spectrum.begin(), spectrum.end()) - spectrum.begin());
    EXPECT_NEAR(kSpectrumLowHz * std::pow(kSpectrumHighHz / kSpectrumLowHz, (loudest + 0.5) / kMusicTextureWidth), 1000, 22);
    EXPECT_NEAR(*std::max_element(waveform.begin(), waveform.end()), 0.75, 0.01);
    EXPECT_NEAR(*std::min_element(waveform.begin(), waveform.end()), 0.25, 0.01);
    // The waveform is the file's own samples, also where its row spans two of the blocks it is
    // decoded in (of 4096 frames), and past the music's end it is silence.
    for (const double t : {0.5, 5 * 4096 / 44100.0, 2.0}) {
        FillMusicTextureRows(t, spectrum.data(), waveform.data());
        for (int i = 0; i < kMusicTextureWidth; ++i) {
            const long frame = std::lround(t * 44100) - kMusicTextureWidth / 2 + i;
            const double sine = frame < 2 * 44100 ? 0.5 * std::sin(2 * M_PI * 1000 * double(frame) / 44100) : 0;
            EXPECT_NEAR(waveform[size_t(i)], 0.5 + 0.5 * sine, 1e-3) << t << " " << i;
        }
    }

    SetMusicTempo({90, 0.25});
    EXPECT_EQ(CurrentMusicTempo().bpm, 90);
    EXPECT_EQ(CurrentMusicTempo().firstBeat, 0.25);
    SetMusicTempo({});
    StopMusicAnalysis();
    EXPECT_EQ(ReadyMusicAnalysis(), nullptr);
}

} // namespace
