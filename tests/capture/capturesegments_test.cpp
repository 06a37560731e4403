#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/capturesegments.h"
#include "capture/childprocess.h"
#include "capture/framegrid.h"

// A segment's process reads its --from and --to back from text and counts its frames as any
// capture does; each of its frames must get the time to the bit, and the count, that the whole
// capture gives the same frame.
TEST(CaptureSegments, EachSegmentGivesItsFramesTheWholeCapturesTimesAndCount)
{
    struct Case {
        double from;
        int fps;
        int frames;
        int count;
    };
    for (const Case c : {Case{0, 60, 3600, 2}, Case{2.5, 60, 601, 7}, Case{1.0 / 3, 30, 100, 3}, Case{0, 24, 5, 5},
                         Case{150, 60, 10800, 13}}) {
        const FrameGrid whole(c.from, c.fps);
        const double end = whole.Time(whole.First() + c.frames);
        const std::vector<CaptureSegment> segments = CutIntoSegments(whole, c.frames, c.count, end);
        ASSERT_EQ(segments.size(), size_t(c.count));
        int next = 0;
        for (const CaptureSegment& segment : segments) {
            SCOPED_TRACE(segment.from);
            EXPECT_EQ(segment.first, next);
            EXPECT_LE(segment.count, c.frames / c.count + 1);
            next += segment.count;
            const double from = std::strtod(segment.from.c_str(), nullptr);
            const double to = std::strtod(segment.to.c_str(), nullptr);
            EXPECT_EQ(int(std::ceil((to - from) * c.fps - 1e-6)), segment.count);
            const FrameGrid part(from, c.fps);
            for (int i = 0; i < segment.count; ++i)
                ASSERT_EQ(part.Time(part.First() + i), whole.Time(whole.First() + segment.first + i)) << i;
            // The frames before it, which it runs update() for, are the whole capture's too.
            EXPECT_EQ(part.First(), whole.First() + segment.first);
            EXPECT_EQ(part.Time(0), whole.Time(0));
        }
        EXPECT_EQ(next, c.frames);
        EXPECT_EQ(segments.back().to, ExactSeconds(end));
    }
}

// A --from off the frames' boundaries keeps its own grid: frame i at from + i / fps, and the
// frames before it at or after the music's start.
TEST(CaptureSegments, AnOffGridStartIsTheFirstFrameAndItsRunUpStartsAtOrAfterZero)
{
    const FrameGrid grid(0.51, 20);
    EXPECT_EQ(grid.First(), 10);
    EXPECT_EQ(grid.Time(grid.First()), 0.51);
    EXPECT_EQ(grid.Time(grid.First() + 3), 0.51 + 3.0 / 20);
    EXPECT_GT(grid.Time(0), 0);
    EXPECT_LT(grid.Time(0), 1.0 / 20);
}

TEST(CaptureSegments, TimesAreWrittenShortWithoutAnExponentAndReadBackTheSame)
{
    EXPECT_EQ(ExactSeconds(0), "0");
    EXPECT_EQ(ExactSeconds(2.5), "2.5");
    EXPECT_EQ(ExactSeconds(150), "150");
    for (double t : {1.0 / 60, 1e-5, 3e-9, 0.1 + 0.2, 123456.789, 7.0 / 3 * 1000}) {
        const std::string text = ExactSeconds(t);
        EXPECT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), t) << text;
    }
}

TEST(CaptureSegments, QuotedTextReachesAProgramAsOneArgumentThroughSh)
{
    for (const std::string text : {"plain/path-1.mp4", "two words", "it's", "$HOME `x` \"q\" \\", "a\nb", ""}) {
        ChildProcess sh;
        std::string output;
        EXPECT_EQ(sh.Run({"sh", "-c", "printf '<%s>' " + ShellQuoted(text)}, output), 0);
        EXPECT_EQ(output, "<" + text + ">");
    }
}

static std::string HostsFile(const std::string& text)
{
    char path[] = "/tmp/quillmere-hosts-XXXXXX";
    const int fd = mkstemp(path);
    const ssize_t written = write(fd, text.data(), text.size());
    close(fd);
    EXPECT_EQ(written, ssize_t(text.size()));
    return path;
}

// GNU parallel's own forms pass; what it would take for a host but no machine is, does not.
TEST(CaptureSegments, AHostsFileNamesMachinesAsGnuParallelReadsThem)
{
    const std::string good = HostsFile("# the farm\n\n:\n8/render1\nroot@10.0.0.2\n  ssh -p 2222 me@render3  \n"
                                       "@fast/4/render4.example.net\n2//usr/bin/ssh -l me render5\n[::1]:2222\n");
    EXPECT_EQ(HostsFileProblem("hosts", good), "");
    std::remove(good.c_str());
    EXPECT_NE(HostsFileProblem("hosts", "/nonexistent/hosts").find("cannot read the hosts file hosts"), std::string::npos);
    for (const char* text : {"", "# only\n\n", "0/render1\n", "render1\n8/\n", "render;rm -rf /\n", "-oProxyCommand=x\n",
                             "render\x01\n", "@group\n"}) {
        const std::string bad = HostsFile(text);
        EXPECT_NE(HostsFileProblem("hosts", bad), "") << text;
        std::remove(bad.c_str());
    }
}
