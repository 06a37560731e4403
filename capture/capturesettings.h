#pragma once
// What a capture is asked to make, as the command line gives it.

#include <string>

#include "script/scenefiles.h"

struct CaptureSettings {
    // The video file as it was given (for messages) and as an absolute path.
    std::string file;
    std::string path;
    // The soundtrack as it was given (for messages) and as the path to open.
    std::string music = kDefaultSoundtrack;
    std::string musicPath = kDefaultSoundtrack;
    int fps = 60;
    int width = 1280;
    int height = 720;
    double from = 0;
    // Seconds of music where the video ends; negative until given: the music's end, or
    // kSilentCaptureSeconds without a soundtrack.
    double to = -1;
    bool overlays = true;
};

constexpr double kSilentCaptureSeconds = 10;
