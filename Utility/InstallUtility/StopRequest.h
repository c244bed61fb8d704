#ifndef TQ_STOPREQUEST_H
#define TQ_STOPREQUEST_H

#include <string>

// The line "stop" on the tool's standard input, when that is a pipe: how a caller that cannot
// signal the tool (it runs as root through pkexec or sudo) asks it to stop, as a signal would.
// Anything else there is passed over; the pipe's end asks nothing. Reading never waits.
class StopRequest
{
public:
    explicit StopRequest(int input);

    // Whether the line has arrived by now.
    bool Asked();

private:
    int input;
    bool open;
    bool asked = false;
    std::string line;
};

#endif
