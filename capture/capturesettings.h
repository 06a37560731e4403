#pragma once
// What a capture is asked to make, as the command line gives it.

#include <string>

#include "script/scenefiles.h"

// How closely the video keeps the pixels rendered.
enum class CaptureQuality { Normal, High, Lossless };
constexpr CaptureQuality kCaptureQualities[] = {CaptureQuality::Normal, CaptureQuality::High,
                                                CaptureQuality::Lossless};

// The quality's name on the command line.
inline const char* QualityName(CaptureQuality quality)
{
    switch (quality) {
    case CaptureQuality::High:
        return "high";
    case CaptureQuality::Lossless:
        return "lossless";
    default:
        return "normal";
    }
}

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
    CaptureQuality quality = CaptureQuality::Normal;
    // Seconds of frames before --from that are drawn but not written.
    double runUp = 2;
    // Runs of frames rendered by processes of their own and joined; 0 for one process.
    int segments = 0;
    // GNU parallel's sshlogin file as given and as an absolute path; "" for this machine alone.
    std::string hosts;
    std::string hostsPath;
    bool printSegments = false;
    // The scene's folder as an absolute path, and the program the segments run ("" for this one).
    std::string folder;
    std::string program;
};

constexpr double kSilentCaptureSeconds = 10;
