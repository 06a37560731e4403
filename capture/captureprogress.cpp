// Progress of a capture on standard error.
#include "capture/captureprogress.h"

#include <unistd.h>

#include <cstdio>

// A terminal line is redrawn often enough to look alive; a log gets a line a second.
static constexpr std::chrono::milliseconds kTerminalInterval(100);
static constexpr std::chrono::milliseconds kLineInterval(1000);

CaptureProgress::CaptureProgress(int total)
    : total(total)
    , terminal(isatty(STDERR_FILENO))
    , start(std::chrono::steady_clock::now())
{
}

void CaptureProgress::Update(int done)
{
    const auto now = std::chrono::steady_clock::now();
    if (shown && now - lastShown < (terminal ? kTerminalInterval : kLineInterval) && done < total)
        return;
    lastShown = now;
    shown = true;
    Show(done);
}

void CaptureProgress::Show(int done)
{
    const double elapsed = std::chrono::duration<double>(lastShown - start).count();
    const double rate = elapsed > 0 ? done / elapsed : 0;
    const int left = rate > 0 ? int((total - done) / rate + 0.5) : 0;
    std::fprintf(stderr, "%scapture: %d/%d frames, %.1f frames/s, %d:%02d left%s",
                 terminal ? "\r" : "", done, total, rate, left / 60, left % 60,
                 terminal ? "\033[K" : "\n");
    std::fflush(stderr);
}

void CaptureProgress::Clear()
{
    if (terminal && shown)
        std::fprintf(stderr, "\r\033[K");
}
