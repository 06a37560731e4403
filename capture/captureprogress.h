#pragma once
// The capture's progress on standard error: in place on a terminal, plain lines otherwise.

#include <chrono>

class CaptureProgress {
public:
    explicit CaptureProgress(int total);

    // Frames done so far; shown now and then, not on every frame.
    void Update(int done);
    // Takes the in-place line off the terminal, so that the next line starts clean.
    void Clear();

private:
    void Show(int done);

    int total;
    bool terminal;
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point lastShown;
    bool shown = false;
};
