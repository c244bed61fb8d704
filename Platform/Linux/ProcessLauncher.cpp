#include "ProcessLauncher.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

// The NUL-terminated pointer array posix_spawn wants; it points into command.
std::vector<char*> ArgumentPointers(const Vector<TqString>& command)
{
    std::vector<char*> pointers;
    for (const TqString& argument : command)
        pointers.push_back(const_cast<char*>(argument.ConstData()));
    pointers.push_back(nullptr);
    return pointers;
}

const int kInterruptions[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Children start with the interruptions at their default and nothing blocked, whatever this
// process ignores while it waits for them.
void ResetSignalsForChild(posix_spawnattr_t* attributes)
{
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signal : kInterruptions)
        sigaddset(&defaults, signal);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setsigmask(attributes, &none);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

// The exit status, or -1 when the child was killed by a signal or could not be waited for.
int WaitForChild(pid_t child)
{
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(child, &status, 0);
    while (reaped < 0 && errno == EINTR);
    if (reaped < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The program's path as its own name, then the arguments.
Vector<TqString> CommandOf(const TqString& path, const Vector<TqString>& arguments)
{
    Vector<TqString> command;
    command.push_back(path);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

} // namespace

bool LaunchDetached(const TqString& path, const Vector<TqString>& arguments)
{
    if (path.IsEmpty())
        return false;
    const Vector<TqString> command = CommandOf(path, arguments);
    std::vector<char*> argv = ArgumentPointers(command);
    pid_t child;
    return posix_spawn(&child, path.ConstData(), nullptr, nullptr, argv.data(), environ) == 0;
}

bool ReplaceProcess(const TqString& path, const Vector<TqString>& arguments)
{
    if (path.IsEmpty())
        return false;
    const Vector<TqString> command = CommandOf(path, arguments);
    std::vector<char*> argv = ArgumentPointers(command);
    // Nothing written so far may be lost with this process image.
    std::fflush(nullptr);
    execv(path.ConstData(), argv.data());
    return false;
}

int RunAndWait(const Vector<TqString>& command)
{
    if (command.empty() || command[0].IsEmpty())
        return -1;
    std::vector<char*> argv = ArgumentPointers(command);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    ResetSignalsForChild(&attributes);
    pid_t child;
    int error = posix_spawn(&child, command[0].ConstData(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? WaitForChild(child) : -1;
}

void InterruptionShield::Raise()
{
    static_assert(sizeof kInterruptions / sizeof kInterruptions[0] == sizeof previous / sizeof previous[0],
                  "one saved handling per interruption");
    if (raised)
        return;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (size_t index = 0; index < sizeof kInterruptions / sizeof kInterruptions[0]; ++index)
        sigaction(kInterruptions[index], &ignore, &previous[index]);
    raised = true;
}

void InterruptionShield::Lower()
{
    if (!raised)
        return;
    for (size_t index = 0; index < sizeof kInterruptions / sizeof kInterruptions[0]; ++index)
        sigaction(kInterruptions[index], &previous[index], nullptr);
    raised = false;
}

bool ToolProcess::Start(const Vector<TqString>& command)
{
    if (pid > 0 || command.empty() || command[0].IsEmpty())
        return false;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the child's standard output only.
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    ResetSignalsForChild(&attributes);
    std::vector<char*> argv = ArgumentPointers(command);
    pid_t child;
    int error = posix_spawn(&child, command[0].ConstData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (error != 0)
    {
        close(pipeEnds[0]);
        return false;
    }
    pid = child;
    outputFd = pipeEnds[0];
    return true;
}

long ToolProcess::Read(char* buffer, unsigned long size)
{
    if (outputFd < 0)
        return -1;
    for (;;)
    {
        ssize_t got = read(outputFd, buffer, size);
        // A signal is not the end of the output; stopping here would leave the tool blocked.
        if (got < 0 && errno == EINTR)
            continue;
        return static_cast<long>(got);
    }
}

int ToolProcess::Wait()
{
    if (outputFd >= 0)
    {
        close(outputFd);
        outputFd = -1;
    }
    if (pid <= 0)
        return -1;
    int status = WaitForChild(pid);
    pid = -1;
    return status;
}

void ToolProcess::Close()
{
    Wait();
}
