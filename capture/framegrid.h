#pragma once
// The music times of a capture's frames, 1/fps apart. When --from lies on a frame boundary
// (0, or a whole number of frames from the music's start) every time is counted from the music's
// start, so that a capture cut into runs of frames gives each frame the same time to the last
// bit as the whole capture does; otherwise the times are counted from --from.

class FrameGrid {
public:
    FrameGrid() = default;
    FrameGrid(double from, int fps);

    // The frame of --from, counted from the grid's first frame, which lies at or just after the
    // music's start: the frames before it are the ones a capture runs update() for first.
    long First() const { return first; }
    double Time(long frame) const;

private:
    double origin = 0;
    long originFrame = 0;
    int fps = 1;
    long first = 0;
};
