#include "StopRequest.h"

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CoarseClock.h"

namespace
{

const char kStopWord[] = "stop";

// A terminal, a file or /dev/null is left alone: the request comes only through a pipe.
bool IsPipe(int fd)
{
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

} // namespace

StopRequest::StopRequest(int inputFd, long interval) : input(inputFd), open(IsPipe(inputFd)), lookInterval(interval)
{
}

bool StopRequest::Asked()
{
    if (!open || asked)
        return asked;
    const long now = CoarseMilliseconds();
    if (looked && now - lastLook < lookInterval)
        return false;
    looked = true;
    lastLook = now;
    pollfd ready = {input, POLLIN, 0};
    while (open && !asked && poll(&ready, 1, 0) > 0)
    {
        char buffer[256];
        const ssize_t got = read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            open = false;
            break;
        }
        for (ssize_t index = 0; index < got && !asked; ++index)
        {
            if (buffer[index] != '\n')
            {
                // Only as much of a line is kept as could still be the word.
                if (line.size() <= sizeof kStopWord)
                    line += buffer[index];
                continue;
            }
            asked = line == kStopWord;
            line.clear();
        }
    }
    return asked;
}
