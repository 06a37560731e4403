// The music times of a capture's frames.
#include "capture/framegrid.h"

#include <cmath>

// How far, in frames, a time written with a few decimals may miss a frame boundary and still be
// taken to lie on it.
static constexpr double kOnBoundary = 1e-6;

FrameGrid::FrameGrid(double from, int fps)
    : fps(fps)
{
    const double frames = from * fps;
    const double nearest = std::round(frames);
    if (std::fabs(frames - nearest) < kOnBoundary) {
        first = long(nearest);
        return;
    }
    first = long(std::floor(frames));
    origin = from;
    originFrame = first;
}

double FrameGrid::Time(long frame) const
{
    return origin + double(frame - originFrame) / fps;
}
