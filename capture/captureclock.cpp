// The music's clock during a capture.
#include "capture/captureclock.h"

CaptureClock::CaptureClock(double length)
    : length(length)
{
}

void CaptureClock::SetTime(double seconds)
{
    time = seconds;
}

double CaptureClock::Time()
{
    return time;
}

double CaptureClock::Length() const
{
    return length;
}

bool CaptureClock::Paused() const
{
    return false;
}

void CaptureClock::SetPaused(bool) {}

void CaptureClock::Seek(double) {}
