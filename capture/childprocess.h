#pragma once
// A program the capture runs (ffmpeg): started from PATH, waited for, stopped.

#include <sys/types.h>

#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    // A child still running is killed and reaped.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts arguments[0], looked up on PATH, with the given descriptors as its standard input,
    // output and error (-1: /dev/null). It runs in a process group of its own, so that Ctrl+C on
    // the terminal reaches only this program, which then stops the child itself. False, with
    // errno set, when it cannot start.
    bool Start(const std::vector<std::string>& arguments, int in, int out, int err);
    // Waits for the end; the exit status, or 128 plus the signal that ended it.
    int Wait();
    void Kill();

    // Whether a program of that name is on PATH and can be run.
    static bool IsInstalled(const std::string& name);

private:
    pid_t pid = -1;
};
