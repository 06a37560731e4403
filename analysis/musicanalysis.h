#pragma once
// What a piece of music sounds like at any time into it, worked out once from its whole PCM:
// loudness, the energy between two frequencies, log-spaced spectrum bands, onsets and the tempo.
//
// Conventions: the music is mixed to mono and cut into Hann windows of kWindow samples every
// kHop samples; step k is centred on sample k * kHop. Levels are dBFS against a full-scale sine
// (a sine of amplitude 1 reads 0 dB in any band that holds it), mapped from -60..0 dB to 0..1.
// A value at a time interpolates between the two nearest steps, so it is a pure function of the
// time: the same however that time was reached and however many frames were drawn.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

constexpr int kAnalysisWindow = 2048;
constexpr int kAnalysisHop = 512;
constexpr int kAnalysisBins = kAnalysisWindow / 2 + 1;
// getMusicSpectrum's bands and the spectrum row of the shader texture span these frequencies.
constexpr double kSpectrumLowHz = 30;
constexpr double kSpectrumHighHz = 16000;
constexpr int kMaxSpectrumBands = 1024;

struct MusicTempo {
    double bpm = 0;
    // Seconds into the music of the beat the tempo counts from.
    double firstBeat = 0;
};

class MusicAnalysis {
public:
    // Interleaved 16-bit frames of that many channels mixed to one.
    static std::vector<int16_t> MixToMono(const int16_t* samples, long long frames, int channels);
    // Analyses mono 16-bit samples. Null when `cancel` was set before the end.
    static std::unique_ptr<MusicAnalysis> Analyse(std::vector<int16_t> mono, int rate, const std::atomic<bool>& cancel);

    int Rate() const { return rate; }
    double Length() const { return double(mono.size()) / rate; }
    double Level(double seconds) const;
    // Energy of the frequencies from lowHz up to highHz, 0 <= lowHz < highHz <= Rate() / 2;
    // a band narrower than a bin reads the bin nearest its middle.
    double Band(double seconds, double lowHz, double highHz) const;
    // n log-spaced bands from kSpectrumLowHz to kSpectrumHighHz, 1 <= n <= kMaxSpectrumBands.
    // The bands' bins are worked out once for each n: call it from one thread only.
    void Spectrum(double seconds, int n, float* bands) const;
    // How strongly the band's energy has just risen: positive spectral flux over an adaptive
    // threshold, 0..1. Read a moment later than the levels, so that it peaks just after a hit.
    double Onset(double seconds, double lowHz, double highHz) const;
    // The greatest Onset over the times from `from` to `to`, from <= to.
    double StrongestOnset(double from, double to, double lowHz, double highHz) const;
    // n mono samples centred on the time, mapped from -1..1 to 0..1.
    void Waveform(double seconds, int n, float* samples) const;
    MusicTempo EstimatedTempo() const { return tempo; }

private:
    MusicAnalysis() = default;
    void AnalyseSteps(const std::atomic<bool>& cancel);
    struct BinRange {
        int first;
        int last;
    };
    BinRange Bins(double lowHz, double highHz) const;
    double BandAt(long long step, BinRange bins) const;
    double FluxAt(long long step, BinRange bins) const;
    double OnsetAt(long long step, BinRange bins) const;
    std::vector<float> OnsetCurve() const;
    long long Steps() const { return (long long)(levels.size()); }

    int rate = 0;
    std::vector<int16_t> mono;
    // Per step: each bin's level, coded in half decibels from kCodeFloorDb (0 stands for at
    // most that), and the level of the whole window, mapped.
    std::vector<uint8_t> codes;
    std::vector<float> levels;
    // Per step, the power of each block of kBinsABlock bins, so that a wide band sums blocks.
    std::vector<float> blocks;
    MusicTempo tempo;
    // The bins of the bands for each n Spectrum was asked for (a script's bars and the shader
    // texture's row each have their own, every frame).
    const std::vector<BinRange>& SpectrumBins(int n) const;
    mutable std::vector<std::vector<BinRange>> spectrumBins;
};
