#include "ProcessLauncher.h"

#include <cerrno>
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

} // namespace

bool LaunchDetached(const TqString& path, const Vector<TqString>& arguments)
{
    if (path.IsEmpty())
        return false;
    Vector<TqString> command;
    command.push_back(path);
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = ArgumentPointers(command);
    pid_t child;
    return posix_spawn(&child, path.ConstData(), nullptr, nullptr, argv.data(), environ) == 0;
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
    std::vector<char*> argv = ArgumentPointers(command);
    pid_t child;
    int error = posix_spawn(&child, command[0].ConstData(), &actions, nullptr, argv.data(), environ);
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
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(pid, &status, 0);
    while (reaped < 0 && errno == EINTR);
    pid = -1;
    if (reaped < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void ToolProcess::Close()
{
    Wait();
}
