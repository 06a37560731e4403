// The analysis of a whole piece of music, and what it reads at a time.
#include "analysis/musicanalysis.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/tempoestimate.h"

constexpr double kFloorDb = -60;
constexpr double kCeilDb = 0;
// Bins are kept in half decibels from -100 dB, so that a band summing many quiet bins still
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
constexpr int kBinsABlock = 32;
constexpr size_t kSpectrumBinSets = 4;
constexpr int kBlocks = (kAnalysisBins + kBinsABlock - 1) / kBinsABlock;

// log2 of a positive float to within 1e-4: its exponent, and a polynomial for its mantissa in
// [1, 2). A fraction of the 0.25 dB the bins are kept to, and many times quicker than log2f, which
// the spectrum would otherwise spend most of its time in.
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

struct CodeTables {
    float power[kCodes];
    float mapped[kCodes];
    CodeTables()
    {
        for (int c = 0; c < kCodes; ++c) {
            const double db = c / kCodesPerDb + kCodeFloorDb;
            power[c] = c == 0 ? 0.0f : float(std::pow(10.0, db / 10));
            mapped[c] = float(Mapped(db));
        }
    }
};

const CodeTables& Tables()
{
    static const CodeTables tables;
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

} // namespace

std::vector<int16_t> MusicAnalysis::MixToMono(const int16_t* samples, long long frames, int channels)
{
    std::vector<int16_t> mono(size_t(std::max(0LL, frames)));
    for (long long f = 0; f < frames; ++f) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[f * channels + c];
        mono[size_t(f)] = int16_t(sum / channels);
    }
    return mono;
}

std::unique_ptr<MusicAnalysis> MusicAnalysis::Analyse(std::vector<int16_t> mono, int rate,
                                                      const std::atomic<bool>& cancel)
{
    std::unique_ptr<MusicAnalysis> analysis(new MusicAnalysis);
    analysis->rate = rate;
    analysis->mono = std::move(mono);
    analysis->AnalyseSteps(cancel);
    if (cancel.load())
        return nullptr;
    analysis->tempo = EstimateTempo(analysis->OnsetCurve(), double(rate) / kAnalysisHop);
    return analysis;
}

void MusicAnalysis::AnalyseSteps(const std::atomic<bool>& cancel)
{
    const long long steps = (long long)(mono.size()) / kAnalysisHop + 1;
    float window[kAnalysisWindow];
    double windowPower = 0;
    for (int i = 0; i < kAnalysisWindow; ++i) {
        window[i] = float(0.5 - 0.5 * std::cos(2 * M_PI * i / kAnalysisWindow));
        windowPower += double(window[i]) * window[i];
    }
    kiss_fftr_cfg fft = kiss_fftr_alloc(kAnalysisWindow, 0, nullptr, nullptr);
    float input[kAnalysisWindow];
    kiss_fft_cpx output[kAnalysisBins];
    codes.assign(size_t(steps) * kAnalysisBins, 0);
    blocks.assign(size_t(steps) * kBlocks, 0.0f);
    const float* powerOf = Tables().power;
    levels.assign(size_t(steps), 0);
    const long long length = (long long)(mono.size());
    const float binScale = float(kBinScale * kBinScale);
    for (long long k = 0; k < steps; ++k) {
        if (k % kCancelCheckSteps == 0 && cancel.load())
            break;
        const long long start = k * kAnalysisHop - kAnalysisWindow / 2;
        double energy = 0;
        for (int i = 0; i < kAnalysisWindow; ++i) {
            const long long at = start + i;
            const float x = at >= 0 && at < length ? float(mono[size_t(at)] * kSampleScale) : 0.0f;
            input[i] = x * window[i];
            energy += double(input[i]) * input[i];
        }
        levels[size_t(k)] = float(energy > 0 ? Mapped(10 * std::log10(2 * energy / windowPower)) : 0);
        kiss_fftr(fft, input, output);
        uint8_t* row = &codes[size_t(k) * kAnalysisBins];
        for (int b = 0; b < kAnalysisBins; ++b) {
            const float power = (output[b].r * output[b].r + output[b].i * output[b].i) * binScale;
            if (power <= 0)
                continue;
            const float code = (kDecibelsPerOctave * FastLog2(power) - float(kCodeFloorDb)) * float(kCodesPerDb);
            row[b] = uint8_t(std::clamp(int(std::lround(code)), 0, kCodes - 1));
        }
        float* block = &blocks[size_t(k) * kBlocks];
        for (int b = 0; b < kAnalysisBins; ++b)
            block[b / kBinsABlock] += powerOf[row[b]];
    }
    kiss_fftr_free(fft);
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
    const float* power = Tables().power;
    const uint8_t* row = &codes[size_t(step) * kAnalysisBins];
    // The bins before the first whole block and after the last, and the whole blocks between.
    const int firstBlock = (bins.first + kBinsABlock - 1) / kBinsABlock;
    const int endBlock = (bins.last + 1) / kBinsABlock;
    const int headEnd = firstBlock < endBlock ? firstBlock * kBinsABlock : bins.last + 1;
    float sum = 0;
    for (int b = bins.first; b < headEnd; ++b)
        sum += power[row[b]];
    if (firstBlock < endBlock) {
        const float* block = &blocks[size_t(step) * kBlocks];
        for (int i = firstBlock; i < endBlock; ++i)
            sum += block[i];
        for (int b = endBlock * kBinsABlock; b <= bins.last; ++b)
            sum += power[row[b]];
    }
    return sum > 0 ? Mapped(kDecibelsPerOctave * FastLog2(sum / float(kHannLeakage))) : 0;
}

double MusicAnalysis::FluxAt(long long step, BinRange bins) const
{
    if (step < 1 || step >= Steps())
        return 0;
    const float* mapped = Tables().mapped;
    const uint8_t* row = &codes[size_t(step) * kAnalysisBins];
    const uint8_t* before = row - kAnalysisBins;
    // Averaged over the bins that sound in either step, so that a narrow sound in a wide band
    // counts as much as a wide one.
    float rise = 0;
    int sounding = 0;
    for (int b = bins.first; b <= bins.last; ++b) {
        rise += std::max(0.0f, mapped[row[b]] - mapped[before[b]]);
        sounding += std::max(mapped[row[b]], mapped[before[b]]) > 0;
    }
    return sounding > 0 ? rise / float(sounding) : 0;
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
    constexpr int kSpan = 2 * kThresholdSteps + 2;
    double flux[kSpan];
    for (int i = 0; i < kSpan; ++i)
        flux[i] = FluxAt(k - kThresholdSteps + i, bins);
    const auto onset = [&](int j) {
        double mean = 0;
        for (int i = j; i <= j + 2 * kThresholdSteps; ++i)
            mean += flux[i];
        mean /= 2 * kThresholdSteps + 1;
        return std::clamp(kOnsetGain * (flux[j + kThresholdSteps] - mean - kOnsetMargin), 0.0, 1.0);
    };
    const double a = position - double(k);
    return onset(0) * (1 - a) + onset(1) * a;
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

void MusicAnalysis::Waveform(double seconds, int n, float* samples) const
{
    const long long length = (long long)(mono.size());
    // Far outside the music every sample is silence; the clamp keeps the sample index in range.
    const double at = std::isnan(seconds) ? -1.0 : std::clamp(seconds, -1.0, Length() + 1);
    const long long centre = std::llround(at * rate);
    for (int i = 0; i < n; ++i) {
        const long long at = centre - n / 2 + i;
        samples[i] = float(0.5 + 0.5 * (at >= 0 && at < length ? mono[size_t(at)] * kSampleScale : 0.0));
    }
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
