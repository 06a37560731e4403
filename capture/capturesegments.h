#pragma once
// A capture cut into runs of whole frames, each rendered by a `quillmere --capture` process of
// its own, started by GNU parallel on this machine or over ssh on the machines of a hosts file,
// and handed back for ffmpeg to join without encoding them again.

#include <atomic>
#include <string>
#include <vector>

#include "capture/capturesettings.h"
#include "capture/videoencoder.h"

class CaptureProgress;
class ChildProcess;
class FrameGrid;

struct CaptureSegment {
    // The first frame, counted from the capture's first, and how many frames.
    int first = 0;
    int count = 0;
    // --from and --to as the segment's process is given them, exact to the last bit.
    std::string from;
    std::string to;
};

// frameCount frames from the grid's First() cut into count runs, the first ones a frame longer
// when they do not divide evenly; the last run ends at end, where the whole capture ends.
std::vector<CaptureSegment> CutIntoSegments(const FrameGrid& grid, int frameCount, int count, double end);
// Removes a folder of segments and the files and links in it, never what a link leads to.
void RemoveSegmentsFolder(const std::string& path);
// Seconds written without an exponent, in as few digits as read back as the same number.
std::string ExactSeconds(double seconds);
// What is wrong with an sshlogin file for GNU parallel ("" when nothing is), named file in the
// message: it cannot be read, names no machine, or has a line that is no sshlogin.
std::string HostsFileProblem(const std::string& file, const std::string& path);
// The text as one word for sh, in single quotes where it needs them.
std::string ShellQuoted(const std::string& text);

class CaptureSegments {
public:
    CaptureSegments(const CaptureSettings& settings, std::vector<CaptureSegment> segments);
    // Removes the working folder and everything in it.
    ~CaptureSegments();
    CaptureSegments(const CaptureSegments&) = delete;
    CaptureSegments& operator=(const CaptureSegments&) = delete;

    // On standard output: the commands that render the segments beside the video, with absolute
    // paths, then the two that join them into join's output with its sound.
    void Print(const EncoderJob& join) const;
    // Renders every segment into folder, made now, with one progress line for all of them. 0
    // once all are there, kCaptureFailed after a line naming the segment that failed and where,
    // or 128 plus the signal that stopped it.
    int Render(const std::string& folder, const std::atomic<int>& stop);
    // The list of the rendered segments, in order, for ffmpeg's concat demuxer.
    std::string ListFile() const { return folder + "/segments.txt"; }

    // Frames of the video whose scene had errors, and the first error, as the segments said.
    int errorFrames = 0;
    std::string firstError;

private:
    std::string SegmentFile(size_t index) const;
    std::vector<std::string> Arguments(size_t index, const std::string& scene, const std::string& output,
                                       const std::string& music) const;
    std::vector<std::string> ParallelArguments() const;
    void ReadOutput(int output, int errors, const std::atomic<int>& stop, ChildProcess& parallel);
    void TakeLine(const std::string& line, bool said, std::vector<int>& done, CaptureProgress& progress);
    int Failure(int status);
    bool StageFiles();

    const CaptureSettings& settings;
    std::vector<CaptureSegment> segments;
    std::string folder;
    // The soundtrack staged in the folder for the segments, "" when they find it in the scene's.
    std::string stagedMusic;
    // The last lines each segment, and GNU parallel itself, said on standard error that were not
    // progress, for a failure's message.
    std::vector<std::vector<std::string>> segmentSaid;
    std::vector<std::string> parallelSaid;
    // Each segment's count of frames with errors, and its first error.
    std::vector<int> segmentErrors;
    std::vector<std::string> segmentFirstErrors;
};
