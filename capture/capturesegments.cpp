// A capture rendered in segments through GNU parallel.
#include "capture/capturesegments.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture/capture.h"
#include "capture/captureprogress.h"
#include "capture/childprocess.h"
#include "capture/framegrid.h"

// A segment that fails is tried again twice, on another machine when there is one.
static constexpr int kTries = 3;
static constexpr int kLinesKept = 8;
static constexpr int kStopCheckMs = 50;
static constexpr int kMostDigits = 17;
// What the segments' working folder holds: the scene's folder (a link to it on this machine).
static const char kSceneName[] = "scene";
// Segments are MP4 whatever the video's container: its edit lists start their frames at 0, where
// Matroska would start them after the sound's priming, and the join would add its own to that.
static const char kSegmentExtension[] = ".mp4";
// How a capture's progress lines start, and the program's own lines.
static const char kProgressStart[] = "capture: ";
static const char kOwnLineStart[] = "quillmere: ";

// Run by sh for each segment, one line (GNU parallel takes a job's command as a line): $1 is the
// working folder on this machine, the rest the program's arguments. A segment sent over ssh finds
// the scene where GNU parallel put it, in the folder it starts in; on this machine it starts
// elsewhere and goes to the working folder. The program runs from its path here when it is there,
// else from PATH; without a display it gets a virtual one. A video written despite the scene's
// errors is no failure to try again.
static std::string SegmentScript()
{
    return std::string("[ -d ") + kSceneName + " ] || cd \"$1\" || exit 1; shift; "
           "[ -x \"$1\" ] || { shift; set -- quillmere \"$@\"; }; x=; "
           "if [ -z \"${DISPLAY:-}\" ]; then "
           "command -v Xvfb >/dev/null || { echo \"quillmere: $(hostname) has no display and no Xvfb\"; exit 2; }; "
           "f=$(mktemp) || exit 1; "
           "Xvfb -displayfd 3 -nolisten tcp -screen 0 64x64x24 3>\"$f\" 2>/dev/null & x=$!; "
           "while [ ! -s \"$f\" ] && kill -0 $x 2>/dev/null; do sleep 0.1; done; "
           "DISPLAY=:$(cat \"$f\"); export DISPLAY; rm -f \"$f\"; "
           "fi; "
           "\"$@\"; s=$?; "
           "[ -n \"$x\" ] && kill $x; "
           "[ $s -eq " + std::to_string(kCaptureSceneErrors) + " ] && s=0; "
           "exit $s";
}

std::vector<CaptureSegment> CutIntoSegments(const FrameGrid& grid, int frameCount, int count, double end)
{
    std::vector<CaptureSegment> segments;
    int first = 0;
    for (int i = 0; i < count; ++i) {
        CaptureSegment segment;
        segment.first = first;
        segment.count = frameCount / count + (i < frameCount % count ? 1 : 0);
        segment.from = ExactSeconds(grid.Time(grid.First() + first));
        first += segment.count;
        segment.to = ExactSeconds(i + 1 < count ? grid.Time(grid.First() + first) : end);
        segments.push_back(segment);
    }
    return segments;
}

std::string ExactSeconds(double seconds)
{
    char text[64];
    for (int digits = 1; digits <= kMostDigits; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, seconds);
        if (!std::strchr(text, 'e') && std::strtod(text, nullptr) == seconds)
            return text;
    }
    // Below a ten-thousandth %g takes an exponent: the digits written out read back the same.
    std::snprintf(text, sizeof text, "%.40f", seconds);
    std::string fixed = text;
    fixed.erase(fixed.find_last_not_of('0') + 1);
    if (fixed.back() == '.')
        fixed.pop_back();
    return fixed;
}

std::string ShellQuoted(const std::string& text)
{
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_-+=.,:/@%") == std::string::npos;
    if (plain)
        return text;
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

static std::string Trimmed(const std::string& text)
{
    const size_t start = text.find_first_not_of(" \t\r");
    return start == std::string::npos ? "" : text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

// The host of an sshlogin as GNU parallel reads it, "[@groups/][ncpus/][ssh command ]host": the
// last word, after the prefixes. False for a prefix that is no positive count.
static bool SshloginHost(std::string line, std::string& host)
{
    if (line[0] == '@') {
        const size_t slash = line.find('/');
        if (slash == std::string::npos)
            return false;
        line.erase(0, slash + 1);
    }
    const size_t digits = line.find_first_not_of("0123456789");
    if (digits != 0 && digits != std::string::npos && line[digits] == '/') {
        if (std::strtol(line.c_str(), nullptr, 10) < 1)
            return false;
        line.erase(0, digits + 1);
    }
    const size_t space = line.find_last_of(" \t");
    host = space == std::string::npos ? line : line.substr(space + 1);
    return true;
}

// A user, password, host name or address, and a port: letters, digits and a few marks.
static bool IsHostName(const std::string& host)
{
    if (host.empty() || host[0] == '-')
        return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("._-:@[]%#+~", c))
            return false;
    }
    return true;
}

std::string HostsFileProblem(const std::string& file, const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return "cannot read the hosts file " + file + ": " + std::strerror(errno);
    int machines = 0;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        std::string host;
        for (char c : line) {
            if (std::iscntrl(static_cast<unsigned char>(c)) && c != '\t')
                host = "\n";
        }
        if (host.empty() && SshloginHost(line, host) && IsHostName(host)) {
            ++machines;
            continue;
        }
        return file + ":" + std::to_string(number) + ": '" + line + "' is no sshlogin of GNU parallel ("
            + "[N/][ssh command ][USER@]HOST, or : for this machine)";
    }
    if (in.bad())
        return "cannot read the hosts file " + file + ": " + std::strerror(errno);
    if (machines == 0)
        return "the hosts file " + file + " names no machine";
    return "";
}

void RemoveSegmentsFolder(const std::string& path)
{
    DIR* entries = opendir(path.c_str());
    if (!entries)
        return;
    while (const dirent* entry = readdir(entries)) {
        struct stat status;
        if (fstatat(dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(status.st_mode))
            unlinkat(dirfd(entries), entry->d_name, 0);
    }
    closedir(entries);
    rmdir(path.c_str());
}

static std::string ThisProgram()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : "quillmere";
}

// The extension of the file a path names, with its dot; "" without one.
static std::string Extension(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || path.find('/', dot) != std::string::npos ? "" : path.substr(dot);
}

// A segment's two lines in a list for ffmpeg's concat demuxer. The length given keeps the next
// segment's frames from moving by the sound's priming, which makes a file longer than its frames.
static std::vector<std::string> ListEntry(const std::string& file, const CaptureSegment& segment, int fps)
{
    // The demuxer reads quotes and escapes as sh does.
    return {"file " + ShellQuoted(file), "duration " + ExactSeconds(double(segment.count) / fps)};
}

static std::string CommandLine(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? "" : " ") + ShellQuoted(argument);
    return line;
}

CaptureSegments::CaptureSegments(const CaptureSettings& settings, std::vector<CaptureSegment> segments)
    : settings(settings)
    , segments(std::move(segments))
    , segmentSaid(this->segments.size())
    , segmentErrors(this->segments.size())
    , segmentFirstErrors(this->segments.size())
{
}

CaptureSegments::~CaptureSegments()
{
    if (!folder.empty())
        RemoveSegmentsFolder(folder);
}

std::string CaptureSegments::SegmentFile(size_t index) const
{
    return "segment" + std::to_string(index + 1) + kSegmentExtension;
}

std::vector<std::string> CaptureSegments::Arguments(size_t index, const std::string& scene,
                                                    const std::string& output, const std::string& music) const
{
    const CaptureSegment& segment = segments[index];
    std::vector<std::string> a = {
        settings.program.empty() ? ThisProgram() : settings.program, scene, "--capture", output,
        "--from", segment.from, "--to", segment.to, "--fps", std::to_string(settings.fps),
        "--size", std::to_string(settings.width) + "x" + std::to_string(settings.height),
        "--quality", QualityName(settings.quality), "--run-up", ExactSeconds(settings.runUp)};
    if (!settings.overlays)
        a.push_back("--no-overlays");
    if (!music.empty())
        a.insert(a.end(), {"--music", music});
    return a;
}

// A soundtrack named on the command line is an absolute path; the default one is in the scene.
static bool MusicIsNamed(const CaptureSettings& settings)
{
    return !settings.musicPath.empty() && settings.musicPath[0] == '/';
}

void CaptureSegments::Print(const EncoderJob& join) const
{
    const std::string& path = settings.path;
    const std::string base = path.substr(0, path.size() - Extension(path).size());
    const std::string music = MusicIsNamed(settings) ? settings.musicPath : "";
    std::printf("# %zu segments of %s, each a command of its own to run where the program and the "
                "files are found at these paths:\n", segments.size(), settings.file.c_str());
    std::vector<std::string> list = {"printf", "%s\\n"};
    for (size_t i = 0; i < segments.size(); ++i) {
        const std::string output = base + "-" + SegmentFile(i);
        std::printf("%s\n", CommandLine(Arguments(i, settings.folder, output, music)).c_str());
        for (const std::string& line : ListEntry(output, segments[i], settings.fps))
            list.push_back(line);
    }
    const std::string listFile = base + "-segments.txt";
    std::printf("# once all are done, the list of them and the join:\n%s > %s\n%s\n", CommandLine(list).c_str(),
                ShellQuoted(listFile).c_str(), CommandLine(JoinArguments(listFile, join)).c_str());
}

bool CaptureSegments::StageFiles()
{
    if (mkdir(folder.c_str(), 0700) != 0)
        return false;
    if (symlink(settings.folder.c_str(), (folder + "/" + kSceneName).c_str()) != 0)
        return false;
    // A soundtrack found nowhere is left out: the segments then miss it as this capture does.
    struct stat status;
    if (MusicIsNamed(settings) && stat(settings.musicPath.c_str(), &status) == 0) {
        stagedMusic = "soundtrack" + Extension(settings.musicPath);
        if (symlink(settings.musicPath.c_str(), (folder + "/" + stagedMusic).c_str()) != 0)
            return false;
    }
    return true;
}

std::vector<std::string> CaptureSegments::ParallelArguments() const
{
    std::vector<std::string> a = {"parallel", "--will-cite", "--line-buffer", "--tagstring", "{#}",
                                  "--retries", std::to_string(kTries), "--halt", "now,fail=1",
                                  "--joblog", folder + "/joblog"};
    // As many segments at once as a machine has cores, GNU parallel's default, or as the hosts file
    // says. The files go as what the links lead to; each segment works in a folder of its own.
    if (!settings.hosts.empty()) {
        a.insert(a.end(), {"--sshloginfile", settings.hostsPath, "--workdir", "...", "--cleanup",
                           "--rsync-opts", "-rLDzR", "--transferfile", folder + "/./" + kSceneName,
                           "--return", folder + "/./segment{#}" + kSegmentExtension});
        if (!stagedMusic.empty())
            a.insert(a.end(), {"--transferfile", folder + "/./" + stagedMusic});
    }
    a.push_back(":::");
    const std::string script = "sh -c " + ShellQuoted(SegmentScript()) + " sh " + ShellQuoted(folder);
    const std::string music = MusicIsNamed(settings) ? (stagedMusic.empty() ? settings.musicPath : stagedMusic) : "";
    for (size_t i = 0; i < segments.size(); ++i)
        a.push_back(script + " " + CommandLine(Arguments(i, kSceneName, SegmentFile(i), music)));
    return a;
}

int CaptureSegments::Render(const std::string& workFolder, const std::atomic<int>& stop)
{
    folder = workFolder;
    if (!StageFiles()) {
        std::fprintf(stderr, "quillmere: cannot make the segments' folder %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return kCaptureFailed;
    }
    // What the segments print goes to the one pipe, what they and GNU parallel say to the other.
    int output[2], errors[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return kCaptureFailed;
    if (pipe2(errors, O_CLOEXEC) != 0) {
        close(output[0]);
        close(output[1]);
        return kCaptureFailed;
    }
    ChildProcess parallel;
    const bool started = parallel.Start(ParallelArguments(), -1, output[1], errors[1]);
    const int startError = errno;
    close(output[1]);
    close(errors[1]);
    if (started)
        ReadOutput(output[0], errors[0], stop, parallel);
    close(output[0]);
    close(errors[0]);
    const int status = parallel.Wait();
    if (const int signal = stop.load())
        return kSignalStatusBase + signal;
    if (!started) {
        std::fprintf(stderr, "quillmere: cannot start GNU parallel: %s\n", std::strerror(startError));
        return kCaptureFailed;
    }
    if (status != 0)
        return Failure(status);
    std::ofstream list(ListFile());
    for (size_t i = 0; i < segments.size(); ++i) {
        struct stat status;
        if (stat((folder + "/" + SegmentFile(i)).c_str(), &status) != 0) {
            std::fprintf(stderr, "quillmere: the video of segment %zu did not come back\n", i + 1);
            return kCaptureFailed;
        }
        for (const std::string& line : ListEntry(SegmentFile(i), segments[i], settings.fps))
            list << line << "\n";
    }
    list.close();
    for (size_t i = 0; i < segments.size(); ++i) {
        if (firstError.empty())
            firstError = segmentFirstErrors[i];
        errorFrames += segmentErrors[i];
    }
    return list ? 0 : kCaptureFailed;
}

static std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

// Names the segment that failed its last try, from GNU parallel's log of jobs: one row a job,
// its number, the machine, and its end (exit status and signal) in the 7th and 8th columns.
int CaptureSegments::Failure(int status)
{
    std::ifstream log(folder + "/joblog");
    std::string row;
    std::getline(log, row);
    while (std::getline(log, row)) {
        std::vector<std::string> fields;
        std::istringstream columns(row);
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(Trimmed(field));
        const long number = fields.size() > 7 ? std::strtol(fields[0].c_str(), nullptr, 10) : 0;
        if (number < 1 || size_t(number) > segments.size() || (fields[6] == "0" && fields[7] == "0"))
            continue;
        const CaptureSegment& segment = segments[size_t(number - 1)];
        const std::string how = fields[7] != "0" ? "killed by signal " + fields[7] : "status " + fields[6];
        const std::vector<std::string>& said = segmentSaid[size_t(number - 1)];
        const std::string lines = Joined(said.empty() ? parallelSaid : said);
        std::fprintf(stderr, "quillmere: segment %ld of %zu (frames %d to %d) failed on %s after %d tries (%s)%s%s\n",
                     number, segments.size(), segment.first, segment.first + segment.count - 1,
                     fields[1] == ":" ? "this machine" : fields[1].c_str(), kTries, how.c_str(),
                     lines.empty() ? "" : "; its last lines:\n", lines.c_str());
        return kCaptureFailed;
    }
    const std::string lines = Joined(parallelSaid);
    std::fprintf(stderr, "quillmere: GNU parallel failed (status %d)%s%s\n", status,
                 lines.empty() ? "" : "; its last lines:\n", lines.c_str());
    return kCaptureFailed;
}

void CaptureSegments::ReadOutput(int output, int errors, const std::atomic<int>& stop, ChildProcess& parallel)
{
    int total = 0;
    for (const CaptureSegment& segment : segments)
        total += segment.count;
    CaptureProgress progress(total);
    std::vector<int> done(segments.size());
    const int fds[2] = {output, errors};
    bool open[2] = {true, true};
    std::string pending[2];
    bool stopping = false;
    char buffer[4096];
    while (open[0] || open[1]) {
        // GNU parallel ends its jobs on SIGTERM, on this machine and over ssh alike.
        if (stop && !stopping) {
            parallel.Terminate();
            stopping = true;
        }
        pollfd ready[2] = {{open[0] ? fds[0] : -1, POLLIN, 0}, {open[1] ? fds[1] : -1, POLLIN, 0}};
        if (poll(ready, 2, kStopCheckMs) < 0 && errno != EINTR)
            break;
        for (int k = 0; k < 2; ++k) {
            if (!open[k] || !(ready[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[k], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                open[k] = false;
                continue;
            }
            pending[k].append(buffer, size_t(n));
            for (size_t end; (end = pending[k].find('\n')) != std::string::npos; pending[k].erase(0, end + 1))
                TakeLine(pending[k].substr(0, end), k == 1, done, progress);
        }
    }
    progress.Clear();
    std::fflush(stdout);
}

static void Keep(std::vector<std::string>& lines, const std::string& line)
{
    lines.push_back(line);
    if (lines.size() > size_t(kLinesKept))
        lines.erase(lines.begin());
}

// A line of the segments, tagged with the segment's number: what the scene printed is passed on;
// of what a segment said, its progress and its count of frames with errors are read, the rest
// kept for a failure's message, as are GNU parallel's own lines.
void CaptureSegments::TakeLine(const std::string& line, bool said, std::vector<int>& done, CaptureProgress& progress)
{
    char* end = nullptr;
    const long number = std::strtol(line.c_str(), &end, 10);
    const bool tagged = end != line.c_str() && *end == '\t' && number >= 1 && size_t(number) <= segments.size();
    const std::string text = tagged ? end + 1 : line;
    if (!said) {
        std::printf("%s\n", text.c_str());
        return;
    }
    if (!tagged) {
        Keep(parallelSaid, text);
        return;
    }
    const size_t index = size_t(number - 1);
    int frames = 0;
    if (text.rfind(kProgressStart, 0) == 0) {
        if (std::sscanf(text.c_str() + sizeof kProgressStart - 1, "%d/", &frames) == 1) {
            done[index] = frames;
            int sum = 0;
            for (int d : done)
                sum += d;
            progress.Update(sum);
        }
        return;
    }
    int offset = 0;
    const std::string own = text.rfind(kOwnLineStart, 0) == 0 ? text.substr(sizeof kOwnLineStart - 1) : "";
    if (own.rfind(kSceneErrorsStart, 0) == 0
        && std::sscanf(own.c_str() + sizeof kSceneErrorsStart - 1, "%d of %*d frames; the first: %n", &frames,
                       &offset) == 1
        && offset > 0) {
        segmentErrors[index] = frames;
        segmentFirstErrors[index] = own.substr(sizeof kSceneErrorsStart - 1 + size_t(offset));
        return;
    }
    Keep(segmentSaid[index], text);
}
