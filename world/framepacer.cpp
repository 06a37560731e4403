// The frame loop's pace.
#include "world/framepacer.h"

void FramePacer::SetRate(int framesPerSecond)
{
    rate = framesPerSecond > 0 ? framesPerSecond : 0;
    period = rate > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate))
                      : Clock::duration::zero();
}

void FramePacer::FrameStarted(Clock::time_point now)
{
    lastStart = now;
    started = true;
}

FramePacer::Clock::duration FramePacer::WaitAfterFrame(Clock::time_point now) const
{
    if (rate == 0)
        return kRearm;
    if (!started || NextStart() <= now)
        return Clock::duration::zero();
    return NextStart() - now;
}
