#pragma once
// The ffmpeg program fed raw frames through a pipe: H.264 in yuv420p, the soundtrack's stretch
// as AAC, in the container the output file's extension names.

#include <csignal>
#include <cstddef>
#include <string>

#include "capture/childprocess.h"

struct EncoderJob {
    std::string output;
    int width = 0;
    int height = 0;
    int fps = 0;
    // The soundtrack's stretch from audioStart for audioSeconds; no audio without a file.
    std::string audioFile;
    double audioStart = 0;
    double audioSeconds = 0;
};

class VideoEncoder {
public:
    // A write interrupted by a signal gives up once stop is set, and goes on otherwise.
    explicit VideoEncoder(const volatile sig_atomic_t& stop);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // False, with the reason, when ffmpeg cannot be started.
    bool Start(const EncoderJob& job, std::string& error);
    // Hands over one frame: rows from the bottom up, 4 bytes a pixel (blue, green, red, unused).
    // False when ffmpeg has stopped reading or a signal interrupted the write.
    bool WriteFrame(const unsigned char* pixels, size_t size);
    // Ends the input and waits for ffmpeg to finish the file; its exit status.
    int Finish();
    // Stops ffmpeg at once.
    void Abort();
    // The last lines ffmpeg wrote to its standard error.
    std::string LastLines(int count) const;

private:
    const volatile sig_atomic_t& stop;
    ChildProcess ffmpeg;
    int input = -1;
    int messages = -1;
};
