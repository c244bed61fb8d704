#ifndef TQ_STOPREQUESTS_H
#define TQ_STOPREQUESTS_H

// INT, TERM, HUP and QUIT as requests to stop the uninstaller's first phase, which must remove
// the folder it copies into before it ends.
#include <csignal>

namespace StopRequests
{

// The four, for every place that treats them alike (the launcher passes them on to the tool and
// gives its children their defaults back).
inline constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The four as a signal set.
sigset_t SignalSet();

// From now on each of the four is counted instead of ending the process, but for one this process
// was started ignoring. The handler does not restart what it interrupts, so a question read from
// the terminal ends at once.
void Catch();

// Whether Catch was called.
bool IsCaught();

// How many came since Catch.
unsigned long Count();

// Once Catch was called: waits until fd has input to read, and returns false instead when the
// count has moved past countBefore, also by a request that came just before the wait. Without
// Catch: true at once.
[[nodiscard]] bool WaitForInput(int fd, unsigned long countBefore);

// Holds the four back (blocked, so they stay pending across an exec) until Release: the
// relaunched copy takes them once it has removed its folder.
void Hold();
void Release();

} // namespace StopRequests

#endif
