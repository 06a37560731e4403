// The frame readout's measurements.
#include "world/framemeter.h"

// Long enough for a steady figure, short enough to follow a change.
static constexpr std::chrono::milliseconds kCountingPeriod{500};

static double Ms(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

void FrameMeter::Reset()
{
    current = last = FrameTimes();
    framesPerSecond = 0;
    framesCounted = -1;
}

// Frames a second counts frame starts, so that the wait between frames is in it too.
void FrameMeter::BeginFrame()
{
    frameStart = Clock::now();
    current = FrameTimes();
    if (framesCounted < 0) {
        countStart = frameStart;
        framesCounted = 0;
        return;
    }
    ++framesCounted;
    const Clock::duration counted = frameStart - countStart;
    if (counted >= kCountingPeriod) {
        framesPerSecond = framesCounted * 1000.0 / Ms(counted);
        countStart = frameStart;
        framesCounted = 0;
    }
}

void FrameMeter::EndFrame()
{
    const double total = Ms(Clock::now() - frameStart);
    last = current;
    last.hostMs = total - current.updateMs - current.renderMs;
}
