// Programs the capture runs, started through posix_spawn.
#include "capture/childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

// The most of a child's standard error that ErrorTail reads back.
static constexpr size_t kErrorTailBytes = 16384;

ChildProcess::~ChildProcess()
{
    if (pid > 0) {
        Kill();
        Wait();
    }
    if (errors >= 0)
        close(errors);
}

bool ChildProcess::Start(const std::vector<std::string>& arguments, int in, int out, int err)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    if (errors >= 0)
        close(errors);
    errors = err >= 0 ? -1 : open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[3] = {in, out, err >= 0 ? err : errors};
    for (int target = 0; target < 3; ++target) {
        if (fds[target] >= 0)
            posix_spawn_file_actions_adddup2(&actions, fds[target], target);
        else
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_RDWR, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // This program ignores SIGPIPE and catches SIGINT and SIGTERM; the child starts with the
    // defaults, as any program expects.
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM})
        sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        pid = -1;
        errno = result;
        return false;
    }
    return true;
}

int ChildProcess::Wait()
{
    if (pid <= 0)
        return -1;
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    pid = -1;
    // ECHILD: the child was reaped without us, and how it ended is lost.
    if (waited < 0)
        return -1;
    if (WIFSIGNALED(status))
        return kSignalStatusBase + WTERMSIG(status);
    return WEXITSTATUS(status);
}

void ChildProcess::Kill()
{
    if (pid > 0)
        kill(pid, SIGKILL);
}

void ChildProcess::Terminate()
{
    if (pid > 0)
        kill(pid, SIGTERM);
}

int ChildProcess::Run(const std::vector<std::string>& arguments, std::string& output)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const bool started = Start(arguments, -1, fds[1]);
    close(fds[1]);
    char buffer[4096];
    for (ssize_t n; started && (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            output.append(buffer, size_t(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    return started ? Wait() : -1;
}

std::string ChildProcess::ErrorTail(int count) const
{
    if (errors < 0)
        return "";
    const off_t end = lseek(errors, 0, SEEK_END);
    const off_t start = end > off_t(kErrorTailBytes) ? end - off_t(kErrorTailBytes) : 0;
    std::string text(size_t(end > start ? end - start : 0), '\0');
    const ssize_t got = pread(errors, text.data(), text.size(), start);
    text.resize(got > 0 ? size_t(got) : 0);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    size_t from = text.size();
    for (int lines = 0; lines < count && from > 0; ++lines) {
        const size_t lineBreak = text.rfind('\n', from - 1);
        from = lineBreak == std::string::npos ? 0 : lineBreak;
    }
    return text.substr(from == 0 ? 0 : from + 1);
}

bool ChildProcess::IsInstalled(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}
