#pragma once
// The ffmpeg program fed raw frames through a pipe: H.264 (4:2:0, 4:4:4, or lossless in RGB), the
// soundtrack's stretch as AAC, in the container the output file's extension names.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capturesettings.h"
#include "capture/childprocess.h"

struct EncoderJob {
    std::string output;
    CaptureQuality quality = CaptureQuality::Normal;
    int width = 0;
    int height = 0;
    int fps = 0;
    // The soundtrack's stretch from audioStart for audioSeconds; no audio without a file.
    std::string audioFile;
    double audioStart = 0;
    double audioSeconds = 0;
};

// ffmpeg's arguments that join the videos listed in list (a file for its concat demuxer) as they
// are, without encoding them again, and lay the job's sound under them.
std::vector<std::string> JoinArguments(const std::string& list, const EncoderJob& job);

// Frames go to ffmpeg from a thread of their own, so that the next frame is drawn while ffmpeg
// takes the last one in: two buffers take turns between the drawing and the pipe.
class VideoEncoder {
public:
    // A wait for a free buffer gives up once stop is set (non-zero).
    explicit VideoEncoder(const std::atomic<int>& stop);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // False, with the reason, when ffmpeg cannot be started.
    bool Start(const EncoderJob& job, std::string& error);
    // The buffer for the next frame, once the pipe is done with it: rows from the bottom up,
    // 4 bytes a pixel (blue, green, red, unused). Null when ffmpeg has stopped reading or stop
    // was set.
    unsigned char* FreeBuffer();
    // Hands the buffer FreeBuffer gave last to the pipe.
    void Submit();
    // Writes what is left, ends the input and waits for ffmpeg to finish the file; its exit
    // status, or -1 when it stopped reading early but ended without an error.
    int Finish();
    // Stops ffmpeg at once.
    void Abort();
    // The last lines ffmpeg wrote to its standard error.
    std::string ErrorTail(int count) const { return ffmpeg.ErrorTail(count); }
    // ffmpeg's process id while it runs, -1 otherwise.
    pid_t ProcessId() const { return ffmpeg.Id(); }

private:
    void WriteFrames();
    void StopWriter();

    const std::atomic<int>& stop;
    ChildProcess ffmpeg;
    int input = -1;
    std::vector<unsigned char> buffers[2];
    // Guarded by mutex: which buffers wait for the pipe or are in it, and how the writer ended.
    std::mutex mutex;
    std::condition_variable changed;
    bool queued[2] = {false, false};
    bool closing = false;
    bool failed = false;
    int next = 0;
    std::thread writer;
};
