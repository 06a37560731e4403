#pragma once
// Offline capture of the working folder's scene into a video file with its soundtrack: one
// frame of the program per video frame, timed by the music clock alone.

#include <string>

#include "capture/capturesettings.h"
#include "capture/videoencoder.h"

class CaptureClock;
class OffscreenView;
class World;

// Exit statuses of a capture besides 0 (written).
constexpr int kCaptureBadInput = 2;
// ffmpeg reported an error, or no OpenGL context could be made.
constexpr int kCaptureFailed = 3;

// Where a capture's time went, in seconds summed over its frames.
struct CaptureTimes {
    double draw = 0;
    double readback = 0;
    double encoderWait = 0;
    double total = 0;
    int frames = 0;
};

class Capture {
public:
    explicit Capture(CaptureSettings settings);
    // Removes the temporary file of a capture that did not finish.
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Checks what can be checked before any window system is touched: ffmpeg, the soundtrack,
    // the times against the music, and that the file's folder can be written. It writes
    // nothing. From here on SIGINT and SIGTERM stop the capture cleanly, and a second one ends
    // the program at once. False after one line on standard error saying what is wrong.
    bool Prepare();
    // Renders and encodes; needs the application object. The video is made in a hidden part
    // file beside it, created once the GL context exists, which replaces the file only when
    // the video is complete. Returns the exit status: 0 with the video in place,
    // kCaptureBadInput, kCaptureFailed, or 128 plus the signal that stopped it.
    int Run();

    CaptureTimes times;

private:
    void ProbeSoundtrack();
    bool CheckFolder();
    bool CreateTemporaryFile();
    void RemoveTemporaryFile();
    int Render();
    void SetUpWorld(World& world) const;
    EncoderJob Job() const;
    void RenderFrames(OffscreenView& view, World& world, CaptureClock& clock, VideoEncoder& encoder);
    int FinishVideo(VideoEncoder& encoder);
    int Fail(const std::string& message);

    CaptureSettings settings;
    bool hasSoundtrack = false;
    // Why the video has no sound, when it has none.
    std::string silenceReason;
    double musicLength = 0;
    int frameCount = 0;
    std::string temporaryPath;
};
