#ifndef TQ_RUNPROGRAM_H
#define TQ_RUNPROGRAM_H

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// Starting a program from a test and capturing what it writes: the one way the tests run the
// built programs and the helpers they need (a shell, Xvfb, xdotool, unshare).
namespace RunProgram
{

// What a standard stream of the child is when it is not given a descriptor of the test's.
enum Stream : int
{
    Inherited = -1,
    DevNull = -2,
    // A pipe whose reading end Started::captured holds; standard output and error may share it.
    Captured = -3,
};

// This process's environment with some variables set (or removed when the value is null).
inline std::vector<std::string> EnvironmentWith(const std::map<std::string, const char*>& changes)
{
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0)
            result.push_back(text);
    }
    for (const auto& change : changes)
        if (change.second != nullptr)
            result.push_back(change.first + "=" + change.second);
    return result;
}

// How a program is started.
struct Launch
{
    std::vector<std::string> command; // the program's path first
    std::vector<std::string> environment = EnvironmentWith({});
    std::string folder;                   // the working folder; empty keeps the test's
    uid_t user = static_cast<uid_t>(-1);  // runs as this uid, with no other groups, when set
    gid_t group = static_cast<gid_t>(-1); // its gid; the same number as user when not set
    rlim_t addressSpace = RLIM_INFINITY;
    int input = DevNull;
    int output = Inherited;
    int errors = Inherited;
    std::vector<std::pair<int, int>> extra; // a descriptor of the test's and the number it gets
    bool ownGroup = false;                  // in a process group of its own, to be signalled as one
};

struct Started
{
    pid_t pid = -1;    // -1 when the program could not be started
    int captured = -1; // the reading end for Captured streams, the caller's to close
};

namespace Detail
{
// Everything the child does between fork and exec, with nothing allocated there.
struct Prepared
{
    std::vector<std::string> command;
    std::vector<std::string> environment;
    std::vector<char*> argv;
    std::vector<char*> envp;

    explicit Prepared(const Launch& launch) : command(launch.command), environment(launch.environment)
    {
        for (std::string& word : command)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        for (std::string& word : environment)
            envp.push_back(&word[0]);
        envp.push_back(nullptr);
    }
};

// Gives descriptor from the number target in the child, surviving exec.
inline bool Place(int from, int target)
{
    if (from == target)
        return fcntl(target, F_SETFD, 0) == 0;
    return dup2(from, target) == target;
}

[[noreturn]] inline void BecomeProgram(const Launch& launch, const Prepared& prepared, int nullInput,
                                       int nullOutput, int pipeWrite)
{
    auto resolve = [&](int stream, int nullFd) {
        return stream == DevNull ? nullFd : stream == Captured ? pipeWrite : stream;
    };
    const int streams[3] = {resolve(launch.input, nullInput), resolve(launch.output, nullOutput),
                            resolve(launch.errors, nullOutput)};
    for (int target = 0; target < 3; ++target)
        if (streams[target] != Inherited && !Place(streams[target], target))
            _exit(126);
    for (const auto& descriptor : launch.extra)
        if (!Place(descriptor.first, descriptor.second))
            _exit(126);
    if (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0)
        _exit(126);
    if (launch.ownGroup && setpgid(0, 0) != 0)
        _exit(126);
    if (launch.addressSpace != RLIM_INFINITY)
    {
        const rlimit limit = {launch.addressSpace, launch.addressSpace};
        setrlimit(RLIMIT_AS, &limit);
    }
    if (launch.user != static_cast<uid_t>(-1))
    {
        const gid_t group =
            launch.group != static_cast<gid_t>(-1) ? launch.group : static_cast<gid_t>(launch.user);
        if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(launch.user) != 0)
            _exit(126);
    }
    execve(prepared.argv[0], prepared.argv.data(), prepared.envp.data());
    _exit(127);
}
} // namespace Detail

// Starts the program; the test keeps its own descriptors and closes nothing of its.
inline Started Start(const Launch& launch)
{
    Started started;
    const Detail::Prepared prepared(launch);
    int ends[2] = {-1, -1};
    const bool capturing = launch.output == Captured || launch.errors == Captured;
    if (capturing && pipe2(ends, O_CLOEXEC) != 0)
        return started;
    const int nullInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int nullOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
    started.pid = fork();
    if (started.pid == 0)
        Detail::BecomeProgram(launch, prepared, nullInput, nullOutput, ends[1]);
    close(nullInput);
    close(nullOutput);
    if (capturing)
    {
        close(ends[1]);
        if (started.pid > 0)
            started.captured = ends[0];
        else
            close(ends[0]);
    }
    return started;
}

// Starts the program on a pseudo-terminal of its own (its three standard streams); the
// terminal's master side goes to *master, the caller's to close.
inline pid_t StartOnTerminal(const Launch& launch, int* master)
{
    const Detail::Prepared prepared(launch);
    Launch onTerminal = launch;
    onTerminal.input = onTerminal.output = onTerminal.errors = Inherited;
    const pid_t child = forkpty(master, nullptr, nullptr, nullptr);
    if (child == 0)
        Detail::BecomeProgram(onTerminal, prepared, -1, -1, -1);
    return child;
}

// Waits up to seconds for condition to hold, looking again after each pause; whether it held.
// Tests wait on what they need this way, never for a fixed time.
inline bool WaitUntil(const std::function<bool()>& condition, int seconds, useconds_t pause = 20000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(pause);
    }
    return true;
}

// Writes text into a fifo once a reader has opened it, waiting up to seconds for one: how a test
// lets a stand-in program, waiting on the fifo, go on at the moment the test chooses.
inline bool WriteToFifo(const std::string& path, const std::string& text, int seconds)
{
    int fd = -1;
    if (!WaitUntil([&] { return (fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; }, seconds))
        return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return written;
}

// Waits up to seconds for the child: its wait status, or nothing (it is killed then) when it did
// not end in time.
inline std::optional<int> WaitForStatus(pid_t child, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(child, &status, WNOHANG)) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return std::nullopt;
        }
        usleep(5000);
    }
    if (done < 0)
        return std::nullopt;
    return status;
}

// The child's exit status, or -1 when a signal ended it or it did not end in time (then killed).
inline int WaitForExit(pid_t child, int seconds)
{
    const std::optional<int> status = WaitForStatus(child, seconds);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// Everything written to fd until every writer has closed it, or until seconds have passed;
// *complete says which.
inline std::string ReadToEnd(int fd, int seconds, bool* complete)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    *complete = false;
    while (std::chrono::steady_clock::now() < deadline)
    {
        pollfd watched = {fd, POLLIN, 0};
        if (poll(&watched, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            *complete = got == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

// Reads fd onto text until text holds what; false when seconds passed or every writer closed
// it first.
inline bool ReadUntil(int fd, const std::string& what, int seconds, std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (text.find(what) == std::string::npos)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched = {fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) == 0)
            return false;
        char buffer[4096];
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR))
            return false;
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

struct Outcome
{
    int status = -2;       // the exit status; -1 after a signal or when killed; -2 not started
    std::string text;      // what the Captured streams carried
    bool complete = false; // the captured streams were closed within the time
};

// Runs the program to its end, reading its Captured streams for up to seconds (every process that
// inherited them included), then waiting as long again for it to exit.
inline Outcome Run(const Launch& launch, int seconds)
{
    Outcome outcome;
    const Started started = Start(launch);
    if (started.pid <= 0)
        return outcome;
    if (started.captured >= 0)
    {
        outcome.text = ReadToEnd(started.captured, seconds, &outcome.complete);
        close(started.captured);
    }
    outcome.status = WaitForExit(started.pid, seconds);
    return outcome;
}

struct ChildOutcome
{
    pid_t pid = -1;                // -1 when no child could be made
    std::optional<int> waitStatus; // nothing when it did not end in time (killed then)
    std::string text;              // what it wrote to the descriptor it was given
};

// Runs work in a forked copy of this process, for what must not touch the test's own (its root,
// its limits, a process it replaces itself with). What work writes to the descriptor it is given
// comes back as text; its return value is the child's exit status.
inline ChildOutcome RunInChild(const std::function<int(int output)>& work, int seconds = 60)
{
    ChildOutcome outcome;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return outcome;
    outcome.pid = fork();
    if (outcome.pid == 0)
    {
        close(ends[0]);
        _exit(work(ends[1]));
    }
    close(ends[1]);
    if (outcome.pid > 0)
    {
        bool complete = false;
        outcome.text = ReadToEnd(ends[0], seconds, &complete);
        outcome.waitStatus = WaitForStatus(outcome.pid, complete ? seconds : 0);
    }
    close(ends[0]);
    return outcome;
}

} // namespace RunProgram

#endif
