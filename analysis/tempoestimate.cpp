// Tempo from onsets: autocorrelation for the period, then a comb over the whole piece for the
// exact period and the phase of the beats.
#include "analysis/tempoestimate.h"

#include <algorithm>
#include <cmath>

constexpr double kSecondsPerMinute = 60;
// How far from kLikeliestBpm, in octaves, a tempo's weight falls to 0.6.
constexpr double kTempoSpreadOctaves = 1;
// The comb searches this many steps either side of the autocorrelation's period, in
// increments of kCombIncrement steps, and folds the curve into kPhaseBins bins a beat.
constexpr double kCombReach = 1.5;
constexpr double kCombIncrement = 0.002;
constexpr int kPhaseBins = 64;
// The first beat is the first on the grid whose onsets reach this part of the mean beat's.
constexpr double kFirstBeatShare = 0.3;

static double TempoWeight(double bpm)
{
    const double octaves = std::log2(bpm / kLikeliestBpm) / kTempoSpreadOctaves;
    return std::exp(-0.5 * octaves * octaves);
}

namespace {

struct Comb {
    double strength = -1;
    // Steps from 0 to the first beat on the grid, below the period.
    double phase = 0;
};

// The curve folded on the period: the strongest three neighbouring phase bins, and where their
// weight lies.
struct Strike {
    double step;
    float strength;
};

Comb Fold(const std::vector<Strike>& strikes, double period)
{
    double bins[kPhaseBins] = {};
    for (const Strike& strike : strikes) {
        const double beats = strike.step / period;
        bins[int((beats - std::floor(beats)) * kPhaseBins) % kPhaseBins] += strike.strength;
    }
    Comb best;
    for (int b = 0; b < kPhaseBins; ++b) {
        const double before = bins[(b + kPhaseBins - 1) % kPhaseBins];
        const double after = bins[(b + 1) % kPhaseBins];
        const double sum = before + bins[b] + after;
        if (sum <= best.strength)
            continue;
        best.strength = sum;
        const double centre = sum > 0 ? b + 0.5 + (after - before) / sum : b + 0.5;
        best.phase = std::fmod(centre / kPhaseBins + 1, 1) * period;
    }
    return best;
}

} // namespace

MusicTempo EstimateTempo(const std::vector<float>& onsets, double stepsPerSecond)
{
    const long long n = (long long)(onsets.size());
    const int shortest = int(std::floor(stepsPerSecond * kSecondsPerMinute / kFastestBpm));
    const int longest = int(std::ceil(stepsPerSecond * kSecondsPerMinute / kSlowestBpm));
    if (n < 2 * longest)
        return {};
    int bestLag = 0;
    double bestScore = 0;
    for (int lag = shortest; lag <= longest; ++lag) {
        double sum = 0;
        for (long long k = lag; k < n; ++k)
            sum += double(onsets[size_t(k)]) * onsets[size_t(k - lag)];
        const double score = sum / double(n - lag) * TempoWeight(stepsPerSecond * kSecondsPerMinute / lag);
        if (score > bestScore) {
            bestScore = score;
            bestLag = lag;
        }
    }
    if (bestLag == 0)
        return {};
    // Most steps strike nothing: the comb folds only those that do.
    std::vector<Strike> strikes;
    for (long long k = 0; k < n; ++k)
        if (onsets[size_t(k)] > 0)
            strikes.push_back({double(k), onsets[size_t(k)]});
    double period = bestLag;
    Comb best;
    for (double p = bestLag - kCombReach; p <= bestLag + kCombReach; p += kCombIncrement) {
        const Comb comb = Fold(strikes, p);
        if (comb.strength > best.strength) {
            best = comb;
            period = p;
        }
    }
    // The grid's first beat that is struck: a lead-in of silence has no beats.
    double mean = 0;
    int beats = 0;
    const auto strikeAt = [&](double step) {
        const long long k = std::llround(step);
        float strike = 0;
        for (long long j = std::max(0LL, k - 1); j <= std::min(n - 1, k + 1); ++j)
            strike = std::max(strike, onsets[size_t(j)]);
        return double(strike);
    };
    for (double step = best.phase; step < double(n); step += period, ++beats)
        mean += strikeAt(step);
    mean /= std::max(1, beats);
    double first = best.phase;
    while (first + period < double(n) && strikeAt(first) < kFirstBeatShare * mean)
        first += period;
    return {stepsPerSecond * kSecondsPerMinute / period, first / stepsPerSecond};
}
