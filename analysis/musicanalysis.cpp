// The analysis of a whole piece of music, and what it reads at a time.
#include "analysis/musicanalysis.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/tempoestimate.h"

constexpr double kFloorDb = -60;
constexpr double kCeilDb = 0;
// Cells are kept in half decibels from -100 dB, so that a band summing many quiet bins still
// counts them: 0.25 dB at most off, a 240th of the mapped range.
constexpr double kCodeFloorDb = -100;
constexpr double kCodesPerDb = 2;
constexpr int kCodes = 256;
// 10 log10(2): decibels from the power's binary logarithm.
constexpr float kDecibelsPerOctave = 3.0103f;
constexpr double kSampleScale = 1.0 / 32768;
// A Hann window spreads a sine over its neighbouring bins; their powers add up to 1.5 times
// the sine's, wherever it lies between bins.
constexpr double kHannLeakage = 1.5;
// The FFT of a Hann-windowed sine of amplitude 1 peaks at a quarter of the window.
constexpr double kBinScale = 4.0 / kAnalysisWindow;
// A hit first shows in the steps whose window it has just entered, half a window before their
// centre: onsets are read that much later.
constexpr double kOnsetLagSteps = double(kAnalysisWindow / 2) / kAnalysisHop;
// The adaptive threshold: the mean flux of this many steps either side, plus a margin.
constexpr int kThresholdSteps = 8;
constexpr double kOnsetMargin = 0.01;
constexpr double kOnsetGain = 6;
constexpr int kCancelCheckSteps = 256;
constexpr size_t kSpectrumBinSets = 4;
// A cell is the bin it starts at divided by this wide, and at least one bin: below twice this
// bin every bin is a cell of its own.
constexpr int kCellShare = 32;
constexpr int kChunkSteps = 4096;
// Frames read from the music at a time.
constexpr long long kPieceFrames = 4096;

static constexpr int CellWidth(int firstBin)
{
    return firstBin / kCellShare > 1 ? firstBin / kCellShare : 1;
}

static constexpr int CountCells()
{
    int cells = 0;
    for (int bin = 0; bin < kAnalysisBins; bin += CellWidth(bin))
        ++cells;
    return cells;
}

constexpr int kCells = CountCells();

// log2 of a positive float to within 1e-4: its exponent, and a polynomial for its mantissa in
// [1, 2). A fraction of the 0.25 dB the cells are kept to, and many times quicker than log2f,
// which the spectrum would otherwise spend most of its time in.
static float FastLog2(float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int exponent = int((bits >> 23) & 0xFF) - 127;
    bits = (bits & 0x007FFFFF) | 0x3F800000;
    float m;
    std::memcpy(&m, &bits, sizeof m);
    // ln(m) to within 1e-4, in octaves.
    const float ln = -1.7417939f + (2.8212026f + (-1.4699568f + (0.44717955f - 0.056570851f * m) * m) * m) * m;
    return float(exponent) + ln * 1.4426950f;
}

static double Mapped(double db)
{
    return std::clamp((db - kFloorDb) / (kCeilDb - kFloorDb), 0.0, 1.0);
}

namespace {

struct Tables {
    float power[kCodes];
    float mapped[kCodes];
    // The first bin of each cell, and one past the last bin of the last; the cell of each bin.
    int cellStart[kCells + 1];
    int cellOf[kAnalysisBins];
    Tables()
    {
        for (int c = 0; c < kCodes; ++c) {
            const double db = c / kCodesPerDb + kCodeFloorDb;
            power[c] = c == 0 ? 0.0f : float(std::pow(10.0, db / 10));
            mapped[c] = float(Mapped(db));
        }
        int cell = 0;
        for (int bin = 0; bin < kAnalysisBins; bin += CellWidth(bin))
            cellStart[cell++] = bin;
        cellStart[kCells] = kAnalysisBins;
        for (int c = 0; c < kCells; ++c)
            for (int bin = cellStart[c]; bin < cellStart[c + 1]; ++bin)
                cellOf[bin] = c;
    }
    // How many of the cell's bins lie in the range.
    int Covered(int cell, MusicAnalysis::BinRange bins) const
    {
        return std::min(cellStart[cell + 1], bins.last + 1) - std::max(cellStart[cell], bins.first);
    }
};

const Tables& TheTables()
{
    static const Tables tables;
    return tables;
}

// Linear interpolation of at(k) between the two steps around a fractional step position.
template <class At>
double Interpolate(double position, At at)
{
    const double k = std::floor(position);
    const double a = position - k;
    return at((long long)(k)) * (1 - a) + at((long long)(k) + 1) * a;
}

// The onset of the step whose flux is flux[kThresholdSteps], given the flux of the steps
// around it.
double OverThreshold(const double* flux)
{
    double mean = 0;
    for (int i = 0; i <= 2 * kThresholdSteps; ++i)
        mean += flux[i];
    mean /= 2 * kThresholdSteps + 1;
    return std::clamp(kOnsetGain * (flux[kThresholdSteps] - mean - kOnsetMargin), 0.0, 1.0);
}

} // namespace

// The Hann window and the transform every step goes through.
struct MusicAnalysis::StepTransform {
    kiss_fftr_cfg fft = kiss_fftr_alloc(kAnalysisWindow, 0, nullptr, nullptr);
    float window[kAnalysisWindow];
    double windowPower = 0;
    StepTransform()
    {
        for (int i = 0; i < kAnalysisWindow; ++i) {
            window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / kAnalysisWindow));
            windowPower += double(window[i]) * window[i];
        }
    }
    ~StepTransform() { kiss_fftr_free(fft); }
};

std::unique_ptr<MusicAnalysis> MusicAnalysis::Analyse(const MusicPieces& read, int rate, int channels,
                                                      const std::atomic<bool>& cancel)
{
    if (rate <= 0 || channels <= 0)
        return nullptr;
    std::unique_ptr<MusicAnalysis> analysis(new MusicAnalysis);
    analysis->rate = rate;
    analysis->AnalyseSteps(read, channels, cancel);
    if (cancel.load())
        return nullptr;
    analysis->tempo = EstimateTempo(analysis->OnsetCurve(), double(rate) / kAnalysisHop);
    return analysis;
}

// Reads the music a piece at a time, mixed to mono, and analyses each step once the samples of
// its window have come; only the samples that later windows still need are kept.
void MusicAnalysis::AnalyseSteps(const MusicPieces& read, int channels, const std::atomic<bool>& cancel)
{
    const StepTransform transform;
    const long long longest = (long long)(kLongestMusicSeconds * rate);
    std::vector<int16_t> piece(size_t(kPieceFrames * channels));
    // The mono samples from monoStart on.
    std::vector<int16_t> mono;
    long long monoStart = 0;
    bool ended = false;
    while (!cancel.load()) {
        if (!ended) {
            const long long got = frames < longest ? read(piece.data(), std::min(kPieceFrames, longest - frames)) : 0;
            ended = got <= 0;
            for (long long f = 0; f < got; ++f) {
                int sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += piece[size_t(f * channels + c)];
                mono.push_back(int16_t(sum / channels));
            }
            frames += std::max(0LL, got);
        }
        // A step is analysed once its window is whole, or once the music has ended.
        for (long long k = Steps(); ended ? k <= frames / kAnalysisHop : k * kAnalysisHop + kAnalysisWindow / 2 <= frames; ++k) {
            if (k % kCancelCheckSteps == 0 && cancel.load())
                return;
            AddStep(transform, mono.data(), k * kAnalysisHop - kAnalysisWindow / 2 - monoStart,
                    frames - monoStart);
        }
        if (ended)
            return;
        const long long keepFrom = Steps() * kAnalysisHop - kAnalysisWindow / 2;
        if (keepFrom > monoStart) {
            mono.erase(mono.begin(), mono.begin() + (keepFrom - monoStart));
            monoStart = keepFrom;
        }
    }
}

// The next step, whose window starts at `start` in `mono`, which holds `available` samples
// (before 0 and from `available` on: silence).
void MusicAnalysis::AddStep(const StepTransform& transform, const int16_t* mono, long long start, long long available)
{
    const Tables& tables = TheTables();
    float input[kAnalysisWindow];
    kiss_fft_cpx output[kAnalysisBins];
    double energy = 0;
    for (int i = 0; i < kAnalysisWindow; ++i) {
        const long long at = start + i;
        const float x = at >= 0 && at < available ? float(mono[at] * kSampleScale) : 0.0f;
        input[i] = x * transform.window[i];
        energy += double(input[i]) * input[i];
    }
    levels.push_back(float(energy > 0 ? Mapped(10 * std::log10(2 * energy / transform.windowPower)) : 0));
    kiss_fftr(transform.fft, input, output);
    const long long step = Steps() - 1;
    if (step % kChunkSteps == 0)
        cellChunks.emplace_back(new uint8_t[size_t(kChunkSteps) * kCells]);
    uint8_t* cells = cellChunks.back().get() + size_t(step % kChunkSteps) * kCells;
    const float binScale = float(kBinScale * kBinScale);
    for (int c = 0; c < kCells; ++c) {
        float power = 0;
        for (int b = tables.cellStart[c]; b < tables.cellStart[c + 1]; ++b)
            power += (output[b].r * output[b].r + output[b].i * output[b].i) * binScale;
        power /= float(tables.cellStart[c + 1] - tables.cellStart[c]);
        const float code = power > 0 ? (kDecibelsPerOctave * FastLog2(power) - float(kCodeFloorDb)) * float(kCodesPerDb) : 0;
        cells[c] = uint8_t(std::clamp(int(std::lround(code)), 0, kCodes - 1));
    }
}

const uint8_t* MusicAnalysis::CellsAt(long long step) const
{
    return cellChunks[size_t(step / kChunkSteps)].get() + size_t(step % kChunkSteps) * kCells;
}

MusicAnalysis::BinRange MusicAnalysis::Bins(double lowHz, double highHz) const
{
    const double binHz = double(rate) / kAnalysisWindow;
    const int top = kAnalysisBins - 1;
    BinRange bins{std::clamp(int(std::ceil(lowHz / binHz)), 0, top),
                  std::clamp(int(std::ceil(highHz / binHz)) - 1, 0, top)};
    if (bins.first > bins.last)
        bins.first = bins.last = std::clamp(int(std::lround((lowHz + highHz) / 2 / binHz)), 0, top);
    return bins;
}

double MusicAnalysis::BandAt(long long step, BinRange bins) const
{
    if (step < 0 || step >= Steps())
        return 0;
    const Tables& tables = TheTables();
    const uint8_t* cells = CellsAt(step);
    float sum = 0;
    for (int c = tables.cellOf[bins.first]; c <= tables.cellOf[bins.last]; ++c)
        sum += tables.power[cells[c]] * float(tables.Covered(c, bins));
    return sum > 0 ? Mapped(kDecibelsPerOctave * FastLog2(sum / float(kHannLeakage))) : 0;
}

double MusicAnalysis::FluxAt(long long step, BinRange bins) const
{
    if (step < 1 || step >= Steps())
        return 0;
    const Tables& tables = TheTables();
    const uint8_t* now = CellsAt(step);
    const uint8_t* before = CellsAt(step - 1);
    // Averaged over the bins that sound in either step, so that a narrow sound in a wide band
    // counts as much as a wide one.
    float rise = 0;
    int sounding = 0;
    for (int c = tables.cellOf[bins.first]; c <= tables.cellOf[bins.last]; ++c) {
        const float a = tables.mapped[now[c]], b = tables.mapped[before[c]];
        const int covered = tables.Covered(c, bins);
        rise += std::max(0.0f, a - b) * float(covered);
        sounding += std::max(a, b) > 0 ? covered : 0;
    }
    return sounding > 0 ? rise / float(sounding) : 0;
}

double MusicAnalysis::OnsetAt(long long step, BinRange bins) const
{
    double flux[2 * kThresholdSteps + 1];
    for (int i = 0; i <= 2 * kThresholdSteps; ++i)
        flux[i] = FluxAt(step - kThresholdSteps + i, bins);
    return OverThreshold(flux);
}

double MusicAnalysis::Level(double seconds) const
{
    if (!(seconds >= 0))
        return 0;
    return Interpolate(seconds * rate / kAnalysisHop,
                       [this](long long k) { return k < Steps() ? double(levels[size_t(k)]) : 0.0; });
}

double MusicAnalysis::Band(double seconds, double lowHz, double highHz) const
{
    if (!(seconds >= 0))
        return 0;
    const BinRange bins = Bins(lowHz, highHz);
    return Interpolate(seconds * rate / kAnalysisHop, [&](long long k) { return BandAt(k, bins); });
}

const std::vector<MusicAnalysis::BinRange>& MusicAnalysis::SpectrumBins(int n) const
{
    for (const std::vector<BinRange>& bins : spectrumBins)
        if (int(bins.size()) == n)
            return bins;
    std::vector<BinRange> bins;
    const double ratio = std::pow(kSpectrumHighHz / kSpectrumLowHz, 1.0 / n);
    double low = kSpectrumLowHz;
    for (int i = 0; i < n; ++i) {
        const double high = i + 1 == n ? kSpectrumHighHz : low * ratio;
        bins.push_back(Bins(low, high));
        low = high;
    }
    // A script that asks for ever new counts keeps the last few.
    if (spectrumBins.size() >= kSpectrumBinSets)
        spectrumBins.erase(spectrumBins.begin());
    spectrumBins.push_back(std::move(bins));
    return spectrumBins.back();
}

void MusicAnalysis::Spectrum(double seconds, int n, float* bands) const
{
    const std::vector<BinRange>& bins = SpectrumBins(n);
    if (!(seconds >= 0)) {
        std::fill(bands, bands + n, 0.0f);
        return;
    }
    const double position = seconds * rate / kAnalysisHop;
    const long long k = (long long)(std::floor(position));
    const double a = position - double(k);
    for (int i = 0; i < n; ++i)
        bands[i] = float(BandAt(k, bins[size_t(i)]) * (1 - a) + BandAt(k + 1, bins[size_t(i)]) * a);
}

double MusicAnalysis::Onset(double seconds, double lowHz, double highHz) const
{
    if (!(seconds >= 0))
        return 0;
    const double position = seconds * rate / kAnalysisHop - kOnsetLagSteps;
    const long long k = (long long)(std::floor(position));
    const BinRange bins = Bins(lowHz, highHz);
    // The flux of the steps around k and k + 1, whose onsets are interpolated.
    double flux[2 * kThresholdSteps + 2];
    for (int i = 0; i < 2 * kThresholdSteps + 2; ++i)
        flux[i] = FluxAt(k - kThresholdSteps + i, bins);
    const double a = position - double(k);
    return OverThreshold(flux) * (1 - a) + OverThreshold(flux + 1) * a;
}

// The onset lies on a line between two steps, so its greatest value over a span is at one of
// the span's ends or at a step inside it.
double MusicAnalysis::StrongestOnset(double from, double to, double lowHz, double highHz) const
{
    double strongest = std::max(Onset(from, lowHz, highHz), Onset(to, lowHz, highHz));
    const double stepSeconds = double(kAnalysisHop) / rate;
    for (double k = std::ceil(from / stepSeconds - kOnsetLagSteps); (k + kOnsetLagSteps) * stepSeconds < to; ++k)
        strongest = std::max(strongest, Onset((k + kOnsetLagSteps) * stepSeconds, lowHz, highHz));
    return strongest;
}

// The whole band's flux over its local mean, a step per hop, placed at the time of the hit.
std::vector<float> MusicAnalysis::OnsetCurve() const
{
    const BinRange all{1, kAnalysisBins - 1};
    const long long steps = Steps();
    std::vector<double> flux(static_cast<size_t>(steps));
    for (long long k = 0; k < steps; ++k)
        flux[size_t(k)] = FluxAt(k - (long long)(kOnsetLagSteps), all);
    std::vector<float> curve(size_t(steps), 0.0f);
    double sum = 0;
    for (long long k = -kThresholdSteps; k < steps; ++k) {
        if (k + kThresholdSteps < steps)
            sum += flux[size_t(k + kThresholdSteps)];
        if (k - kThresholdSteps - 1 >= 0)
            sum -= flux[size_t(k - kThresholdSteps - 1)];
        if (k >= 0)
            curve[size_t(k)] = float(std::max(0.0, flux[size_t(k)] - sum / (2 * kThresholdSteps + 1)));
    }
    return curve;
}
