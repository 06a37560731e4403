#pragma once
// A program the capture runs (ffmpeg): started from PATH, waited for, stopped, and the end of
// what it wrote to its standard error kept for the messages.

#include <sys/types.h>

#include <string>
#include <vector>

// A process ended by a signal reports 128 plus the signal, as the shells do.
constexpr int kSignalStatusBase = 128;

class ChildProcess {
public:
    ChildProcess() = default;
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts arguments[0], looked up on PATH, with the given descriptors as its standard input
    // and output (-1: /dev/null); its standard error goes to err, or with -1 to a temporary file
    // for ErrorTail. It
    // runs in a process group of its own, so that Ctrl+C on the terminal reaches only this
    // program, which then stops the child itself. False, with errno set, when it cannot start.
    bool Start(const std::vector<std::string>& arguments, int in, int out, int err = -1);
    // Waits for the end; the exit status, 128 plus the signal that ended it, or -1 when there
    // is no end to wait for (never started, or reaped elsewhere: SIGCHLD ignored).
    int Wait();
    void Kill();
    // Asks the child to end (SIGTERM), as a program that cleans up after itself wants to be asked.
    void Terminate();
    // The running child's process id, -1 when there is none.
    pid_t Id() const { return pid; }

    // Runs the program to its end, standard input from /dev/null, and collects its standard
    // output. The status as Wait gives it; -1 when it cannot start.
    int Run(const std::vector<std::string>& arguments, std::string& output);
    // The last lines, at most count, that the program wrote to its standard error.
    std::string ErrorTail(int count) const;

    // Whether a program of that name is on PATH and can be run.
    static bool IsInstalled(const std::string& name);

private:
    pid_t pid = -1;
    // The temporary file that holds its standard error; -1 before the start.
    int errors = -1;
};
