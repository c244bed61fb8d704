#include "StopRequests.h"

#include <cerrno>
#include <csignal>
#include <poll.h>

namespace
{

volatile sig_atomic_t requests = 0;
bool caught = false;

void CountRequest(int)
{
    requests = requests + 1;
}

void ChangeMask(int how)
{
    const sigset_t signals = StopRequests::SignalSet();
    (void)sigprocmask(how, &signals, nullptr);
}

} // namespace

sigset_t StopRequests::SignalSet()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : kSignals)
        sigaddset(&signals, signal);
    return signals;
}

void StopRequests::Catch()
{
    struct sigaction counting = {};
    counting.sa_handler = CountRequest;
    sigemptyset(&counting.sa_mask);
    for (int signal : StopRequests::kSignals)
    {
        // One the caller set aside (nohup, a shell's background job) stays set aside.
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            (void)sigaction(signal, &counting, nullptr);
    }
    caught = true;
}

bool StopRequests::IsCaught()
{
    return caught;
}

unsigned long StopRequests::Count()
{
    return static_cast<unsigned long>(requests);
}

bool StopRequests::WaitForInput(int fd, unsigned long countBefore)
{
    if (!caught)
        return true;
    // Held back but while waiting, so that none falls between the look at the count and the wait.
    const sigset_t stops = StopRequests::SignalSet();
    sigset_t previous;
    if (sigprocmask(SIG_BLOCK, &stops, &previous) != 0)
        return true;
    sigset_t waiting = previous;
    for (int signal : StopRequests::kSignals)
        sigdelset(&waiting, signal);
    bool ready = false;
    for (;;)
    {
        if (Count() != countBefore)
            break;
        pollfd input = {fd, POLLIN, 0};
        const int result = ppoll(&input, 1, nullptr, &waiting);
        // Anything but a signal (input, its end, an error) is for the reader to find out.
        if (result > 0 || (result < 0 && errno != EINTR))
        {
            ready = true;
            break;
        }
    }
    (void)sigprocmask(SIG_SETMASK, &previous, nullptr);
    return ready;
}

void StopRequests::Hold()
{
    ChangeMask(SIG_BLOCK);
}

void StopRequests::Release()
{
    ChangeMask(SIG_UNBLOCK);
}
