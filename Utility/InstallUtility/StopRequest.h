#ifndef TQ_STOPREQUEST_H
#define TQ_STOPREQUEST_H

#include <string>

// The line "stop" on the tool's standard input, when that is a pipe: how a caller that cannot
// signal the tool (it runs as root through pkexec or sudo) asks it to stop, as a signal would.
// Anything else there is passed over; the pipe's end asks nothing. Reading never waits.
class StopRequest
{
public:
    // The walk asks between every two entries: looking at the pipe each time would be a system
    // call per entry, so it is looked at no more often than this.
    static constexpr long lookIntervalMilliseconds = 20;

    explicit StopRequest(int input, long lookInterval = lookIntervalMilliseconds);

    // Whether the line had arrived when the pipe was last looked at (now, at the first call or
    // when lookInterval has passed since).
    bool Asked();

private:
    int input;
    bool open;
    long lookInterval;
    bool looked = false;
    long lastLook = 0;
    bool asked = false;
    std::string line;
};

#endif
