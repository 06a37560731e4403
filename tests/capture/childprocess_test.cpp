#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "capture/childprocess.h"

// A child's end as the shells report it, its standard output and the end of its standard error;
// it inherits no descriptor of this program's but its three standard ones.
TEST(ChildProcess, RunGivesTheStatusTheOutputAndTheEndOfStandardError)
{
    ChildProcess child;
    std::string output;
    // How many of its descriptors lead to the pipe its standard output is: that one alone.
    const char* const kCountPipeEnds = "p=$(readlink /proc/$$/fd/1); n=0; for f in /proc/$$/fd/*; do "
                                       "[ \"$(readlink $f)\" = \"$p\" ] && n=$((n+1)); done; echo $n";
    EXPECT_EQ(child.Run({"sh", "-c", kCountPipeEnds}, output), 0);
    EXPECT_EQ(output, "1\n");
    output.clear();
    EXPECT_EQ(child.Run({"sh", "-c", "echo one >&2; echo two >&2; echo >&2; exit 3"}, output), 3);
    // Blank lines at the end say nothing.
    EXPECT_EQ(child.ErrorTail(1), "two");
    EXPECT_EQ(child.ErrorTail(9), "one\ntwo");
    EXPECT_EQ(child.Run({"sh", "-c", "kill -TERM $$"}, output), kSignalStatusBase + SIGTERM);
    EXPECT_EQ(child.Run({"/nonexistent/program"}, output), -1);
}

static long OpenDescriptors()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
}

// Every descriptor a child took is given back once it is gone, however often it ran: a capture
// runs several, and a program that captures again and again would run out.
TEST(ChildProcess, GivesBackEveryDescriptorItTook)
{
    const int before = OpenDescriptors();
    {
        ChildProcess child;
        std::string output;
        for (int run = 0; run < 3; ++run)
            EXPECT_EQ(child.Run({"sh", "-c", "echo out; echo err >&2"}, output), 0);
        ASSERT_TRUE(child.Start({"cat"}, -1, -1));
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// With SIGCHLD ignored the system reaps the child and its status is lost: that is no success.
TEST(ChildProcess, AnEndThatCannotBeWaitedForIsAFailure)
{
    struct sigaction previous;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    ChildProcess child;
    std::string output;
    const int status = child.Run({"true"}, output);
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_EQ(status, -1);
}
