#pragma once
// Offline capture of the working folder's scene into a video file with its soundtrack: one
// frame of the program per video frame, timed by the music clock alone.

#include <string>

#include "capture/capturesettings.h"
#include "capture/framegrid.h"
#include "capture/videoencoder.h"

class CaptureClock;
class OffscreenView;
class World;

// Exit statuses of a capture besides 0 (written).
constexpr int kCaptureBadInput = 2;
// ffmpeg reported an error, no OpenGL context could be made, or a segment failed.
constexpr int kCaptureFailed = 3;
// The video was written, but the scene raised errors or a shader did not compile.
constexpr int kCaptureSceneErrors = 4;
// How a capture counts its frames with errors, after "quillmere: ": this, then "N of M frames;
// the first: ERROR".
constexpr char kSceneErrorsStart[] = "the scene had errors in ";

// Where a capture's time went, in seconds summed over its frames.
struct CaptureTimes {
    double draw = 0;
    double readback = 0;
    double encoderWait = 0;
    // The frames before --from: update() alone, and the run-up drawn.
    double runUp = 0;
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
    // the times against the music, that the file's folder can be written, and for segments GNU
    // parallel and the hosts file. It writes nothing. From here on SIGINT and SIGTERM stop the capture cleanly, and a second one ends
    // the program at once. False after one line on standard error saying what is wrong.
    bool Prepare();
    // Renders and encodes; needs the application object. The video is made in a hidden part
    // file beside it, created once the GL context exists, which replaces the file only when
    // the video is complete. Returns the exit status: 0 with the video in place,
    // kCaptureBadInput, kCaptureFailed, kCaptureSceneErrors with the video in place, or 128 plus
    // the signal that stopped it. Segments are rendered by processes of their own: this one then
    // needs no application object and no display.
    int Run();

    CaptureTimes times;

private:
    bool ProbeSoundtrack();
    bool CheckFolder();
    bool CreateTemporaryFile();
    void RemoveTemporaryFile();
    bool CheckSegments();
    int Render();
    int RenderSegments();
    void SetUpWorld(World& world) const;
    EncoderJob Job() const;
    void RunUp(OffscreenView& view, World& world, CaptureClock& clock);
    void RenderFrames(OffscreenView& view, World& world, CaptureClock& clock, VideoEncoder& encoder);
    void NoteErrors();
    int FinishVideo(VideoEncoder& encoder);
    int PutInPlace();
    int Fail(const std::string& message);

    CaptureSettings settings;
    bool hasSoundtrack = false;
    // Why the video has no sound, when it has none.
    std::string silenceReason;
    double musicLength = 0;
    // Where the video ends, in seconds of music.
    double end = 0;
    FrameGrid grid;
    int frameCount = 0;
    // Frames written while an error of the scene stood, and the first such error.
    int errorFrames = 0;
    std::string firstError;
    std::string temporaryPath;
};
