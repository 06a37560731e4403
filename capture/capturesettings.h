#pragma once
// What a capture is asked to make, as the command line gives it.

#include <string>

struct CaptureSettings {
    // The video file as it was given (for messages) and as an absolute path.
    std::string file;
    std::string path;
    int fps = 60;
    int width = 1280;
    int height = 720;
    double from = 0;
    // Seconds of music where the video ends; negative until given: the music's end, or
    // kSilentCaptureSeconds without a soundtrack.
    double to = -1;
    bool overlays = true;
    // The command line names a platform or display of its own for the toolkit.
    bool windowSystemGiven = false;
};

constexpr double kSilentCaptureSeconds = 10;
