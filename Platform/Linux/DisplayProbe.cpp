#include "DisplayProbe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gdk/gdk.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

DisplayAnswer ProbeDisplay(std::chrono::steady_clock::time_point deadline)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return DisplayAnswer::Refused;
    const pid_t child = fork();
    if (child == 0)
    {
        // The child writes one byte when the display opened; it ends either way.
        close(ends[0]);
        const char opened = 1;
        if (gdk_init_check(nullptr, nullptr))
            (void)!write(ends[1], &opened, 1);
        _exit(0);
    }
    close(ends[1]);
    if (child < 0)
    {
        close(ends[0]);
        return DisplayAnswer::Refused;
    }
    DisplayAnswer answer = DisplayAnswer::Silent;
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd result = {ends[0], POLLIN, 0};
        const int ready = poll(&result, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0)
        {
            char opened = 0;
            answer = read(ends[0], &opened, 1) == 1 ? DisplayAnswer::Opened : DisplayAnswer::Refused;
        }
        break;
    }
    close(ends[0]);
    if (answer == DisplayAnswer::Silent)
        kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR)
    {
    }
    return answer;
}
