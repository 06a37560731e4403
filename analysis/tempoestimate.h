#pragma once
// The tempo of a piece from its onset curve: one value a step, stepsPerSecond steps a second,
// high where something was struck. Tempi from kSlowestBpm to kFastestBpm are considered, and of
// a tempo and its double or half the one nearer kLikeliestBpm wins when the two fit alike.
#include <vector>

#include "analysis/musicanalysis.h"

constexpr double kSlowestBpm = 60;
constexpr double kFastestBpm = 180;
constexpr double kLikeliestBpm = 120;

// A tempo of 0 when the curve holds no beat.
MusicTempo EstimateTempo(const std::vector<float>& onsets, double stepsPerSecond);
