// The ffmpeg program as the capture's encoder.
#include "capture/videoencoder.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

// A pipe this size holds a good part of a frame, so that drawing and encoding overlap.
static constexpr int kPipeBytes = 1 << 20;

static std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

static const char* const kArgumentsFirst[] = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
                                              "-nostats"};

// The second input, the soundtrack, and what is made of it; nothing without one. The stretch is
// cut from the decoded sound, to the sample: a seek in the mp3 itself would leave the first tens
// of milliseconds silent while the decoder warms up.
static void AddSound(std::vector<std::string>& a, const EncoderJob& job)
{
    if (job.audioFile.empty())
        return;
    a.insert(a.end(), {"-i", job.audioFile, "-map", "0:v", "-map", "1:a",
                       "-af", "atrim=start=" + Seconds(job.audioStart) + ":duration="
                           + Seconds(job.audioSeconds) + ",asetpts=PTS-STARTPTS",
                       "-c:a", "aac", "-b:a", "192k"});
}

// GL's rows run from the bottom up. The colours are converted and tagged as BT.709, which players
// assume for video of this kind; lossless frames stay in RGB, which that conversion would round.
static void AddVideoCodec(std::vector<std::string>& a, CaptureQuality quality)
{
    if (quality == CaptureQuality::Lossless) {
        a.insert(a.end(), {"-vf", "vflip", "-c:v", "libx264rgb", "-preset", "veryfast", "-qp", "0"});
        return;
    }
    // Full chroma and a low crf keep a one-pixel line's colour, which 4:2:0 spreads over two.
    const bool high = quality == CaptureQuality::High;
    a.insert(a.end(), {
        "-vf", std::string("vflip,scale=out_color_matrix=bt709:out_range=tv,format=")
                   + (high ? "yuv444p" : "yuv420p"),
        "-c:v", "libx264", "-preset", "veryfast", "-crf", high ? "10" : "18",
        "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc", "bt709", "-color_range", "tv"});
}

static std::vector<std::string> FfmpegArguments(const EncoderJob& job)
{
    std::vector<std::string> a(std::begin(kArgumentsFirst), std::end(kArgumentsFirst));
    a.insert(a.end(), {"-f", "rawvideo", "-pixel_format", "bgr0",
                       "-video_size", std::to_string(job.width) + "x" + std::to_string(job.height),
                       "-framerate", std::to_string(job.fps), "-i", "pipe:0"});
    AddSound(a, job);
    AddVideoCodec(a, job.quality);
    a.insert(a.end(), {"-y", job.output});
    return a;
}

std::vector<std::string> JoinArguments(const std::string& list, const EncoderJob& job)
{
    std::vector<std::string> a(std::begin(kArgumentsFirst), std::end(kArgumentsFirst));
    // The joined frames keep the times they have in the list, from 0: otherwise ffmpeg moves them
    // by the sound's priming a second time, after the muxer has.
    a.insert(a.end(), {"-copyts", "-f", "concat", "-safe", "0", "-i", list});
    AddSound(a, job);
    a.insert(a.end(), {"-c:v", "copy", "-y", job.output});
    return a;
}

VideoEncoder::VideoEncoder(const std::atomic<int>& stop)
    : stop(stop)
{
}

VideoEncoder::~VideoEncoder()
{
    Abort();
}

bool VideoEncoder::Start(const EncoderJob& job, std::string& error)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno);
        return false;
    }
    fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);
    const bool started = ffmpeg.Start(FfmpegArguments(job), fds[0], -1);
    const int startError = errno;
    close(fds[0]);
    input = fds[1];
    if (!started) {
        error = std::string("cannot start ffmpeg: ") + std::strerror(startError);
        Abort();
        return false;
    }
    const size_t frameBytes = size_t(job.width) * size_t(job.height) * 4;
    buffers[0].resize(frameBytes);
    buffers[1].resize(frameBytes);
    // The signals that stop a capture are the drawing thread's to see: the writer starts with
    // them blocked, so its writes are never cut short.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    writer = std::thread(&VideoEncoder::WriteFrames, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

void VideoEncoder::WriteFrames()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (int turn = 0;; turn ^= 1) {
        changed.wait(lock, [&] { return queued[turn] || closing; });
        if (!queued[turn])
            return;
        lock.unlock();
        const unsigned char* pixels = buffers[turn].data();
        size_t size = buffers[turn].size();
        ssize_t written = 0;
        while (size > 0 && (written = write(input, pixels, size)) > 0) {
            pixels += written;
            size -= size_t(written);
        }
        lock.lock();
        queued[turn] = false;
        changed.notify_all();
        if (size > 0) {
            failed = true;
            return;
        }
    }
}

unsigned char* VideoEncoder::FreeBuffer()
{
    // The wait looks at the stop flag now and then: a signal does not wake a condition variable.
    constexpr std::chrono::milliseconds kStopCheck(50);
    std::unique_lock<std::mutex> lock(mutex);
    while (queued[next] && !failed && !stop)
        changed.wait_for(lock, kStopCheck);
    return failed || stop || !writer.joinable() ? nullptr : buffers[next].data();
}

void VideoEncoder::Submit()
{
    std::lock_guard<std::mutex> lock(mutex);
    queued[next] = true;
    next ^= 1;
    changed.notify_all();
}

void VideoEncoder::StopWriter()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
        changed.notify_all();
    }
    if (writer.joinable())
        writer.join();
    if (input >= 0)
        close(input);
    input = -1;
}

int VideoEncoder::Finish()
{
    StopWriter();
    const int status = ffmpeg.Wait();
    return failed && status == 0 ? -1 : status;
}

void VideoEncoder::Abort()
{
    // Killed first, so that a write under way fails and the writer ends.
    ffmpeg.Kill();
    StopWriter();
    ffmpeg.Wait();
}
