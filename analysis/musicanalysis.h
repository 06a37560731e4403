#pragma once
// What a piece of music sounds like at any time into it, worked out once as the music is read
// through in pieces: loudness, the energy between two frequencies, log-spaced spectrum bands,
// onsets and the tempo.
//
// Conventions: the music is mixed to mono and cut into Hann windows of kAnalysisWindow samples
// every kAnalysisHop samples; step k is centred on sample k * kAnalysisHop. Levels are dBFS
// against a full-scale sine (a sine of amplitude 1 reads 0 dB in any band that holds it), mapped
// from -60..0 dB to 0..1. A value at a time interpolates between the two nearest steps, so it is
// a pure function of the time: the same however that time was reached and however many frames
// were drawn.
//
// Each step keeps its spectrum in cells of neighbouring bins, a byte each: a cell a bin up to
// 1.4 kHz (at 44.1 kHz), then cells about a 32nd of their frequency wide, each holding its bins'
// mean power. A band that covers part of a cell takes that part of its power.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

constexpr int kAnalysisWindow = 2048;
constexpr int kAnalysisHop = 512;
constexpr int kAnalysisBins = kAnalysisWindow / 2 + 1;
// getMusicSpectrum's bands and the spectrum row of the shader texture span these frequencies.
constexpr double kSpectrumLowHz = 30;
constexpr double kSpectrumHighHz = 16000;
constexpr int kMaxSpectrumBands = 1024;
// The longest music analysed, in seconds: what lies past it reads as silence. The program
// refuses a longer soundtrack.
constexpr double kLongestMusicSeconds = 6 * 3600;

struct MusicTempo {
    double bpm = 0;
    // Seconds into the music of the beat the tempo counts from.
    double firstBeat = 0;
};

// Gives the music's next interleaved 16-bit frames, at most `frames` of them; 0 at its end.
using MusicPieces = std::function<long long(int16_t* samples, long long frames)>;

class MusicAnalysis {
public:
    // Analyses the music that `read` gives, in frames of that many channels mixed to one. Null
    // when `cancel` was set before the end.
    static std::unique_ptr<MusicAnalysis> Analyse(const MusicPieces& read, int rate, int channels,
                                                  const std::atomic<bool>& cancel);

    int Rate() const { return rate; }
    double Length() const { return double(frames) / rate; }
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
    MusicTempo EstimatedTempo() const { return tempo; }

    // The bins from lowHz up to highHz, as Band and Onset take them.
    struct BinRange {
        int first;
        int last;
    };
    BinRange Bins(double lowHz, double highHz) const;
    // The steps and the onset of one of them, for a reader that scans a span of steps; the
    // onset at a time interpolates these, placed kOnsetLagSteps later.
    long long Steps() const { return (long long)(levels.size()); }
    double OnsetAt(long long step, BinRange bins) const;

private:
    MusicAnalysis() = default;
    void AnalyseSteps(const MusicPieces& read, int channels, const std::atomic<bool>& cancel);
    struct StepTransform;
    void AddStep(const StepTransform& transform, const int16_t* mono, long long start, long long available);
    const uint8_t* CellsAt(long long step) const;
    double BandAt(long long step, BinRange bins) const;
    double FluxAt(long long step, BinRange bins) const;
    std::vector<float> OnsetCurve() const;

    int rate = 0;
    long long frames = 0;
    // Per step: each cell's mean power a bin, coded in half decibels from kCodeFloorDb (0
    // stands for at most that), kept in chunks of kChunkSteps steps so that a long piece never
    // needs one block of it all; and the level of the whole window, mapped.
    std::vector<std::unique_ptr<uint8_t[]>> cellChunks;
    std::vector<float> levels;
    MusicTempo tempo;
    // The bins of the bands for each n Spectrum was asked for (a script's bars and the shader
    // texture's row each have their own, every frame).
    const std::vector<BinRange>& SpectrumBins(int n) const;
    mutable std::vector<std::vector<BinRange>> spectrumBins;
};
