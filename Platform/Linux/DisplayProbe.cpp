#include "DisplayProbe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gdk/gdk.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileDescriptor.h"

DisplayAnswer ProbeDisplay(std::chrono::steady_clock::time_point deadline)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return DisplayAnswer::Refused;
    const FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);
    const pid_t child = fork();
    if (child == 0)
    {
        // The child writes one byte when the display opened; it ends either way, and what it
        // holds open closes with it.
        const char opened = 1;
        if (gdk_init_check(nullptr, nullptr))
            (void)!write(writeEnd.Get(), &opened, 1);
        _exit(0);
    }
    // Only the child writes: the end of the pipe is seen once it is gone.
    writeEnd = FileDescriptor();
    if (child < 0)
        return DisplayAnswer::Refused;
    DisplayAnswer answer = DisplayAnswer::Silent;
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd result = {readEnd.Get(), POLLIN, 0};
        const int ready = poll(&result, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0)
        {
            char opened = 0;
            answer = read(readEnd.Get(), &opened, 1) == 1 ? DisplayAnswer::Opened : DisplayAnswer::Refused;
        }
        break;
    }
    if (answer == DisplayAnswer::Silent)
        kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR)
    {
    }
    return answer;
}
