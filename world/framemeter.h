#pragma once
// How long the parts of a frame take and how many frames a second the loop gives, measured only
// while someone looks (the view's frame readout).

#include <chrono>

struct FrameTimes {
    double updateMs = 0;
    double renderMs = 0;
    // The rest of the frame: the host's own drawing around render(), the pick, the overlays and
    // the swap.
    double hostMs = 0;
};

class FrameMeter {
public:
    // Nothing measured yet: the next frame begins the count of frames a second.
    void Reset();
    void BeginFrame();
    // The frame begun is over: what its chunks noted in `current` becomes `last`, with the rest
    // of its time the host's.
    void EndFrame();

    // Filled in during the frame by whoever runs update() and render().
    FrameTimes current;
    // The latest whole frame.
    FrameTimes last;
    // Over the latest half second or more; 0 until one has passed.
    double framesPerSecond = 0;

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point frameStart;
    Clock::time_point countStart;
    int framesCounted = -1;
};
