#ifndef TQ_SYSTEMLOG_H
#define TQ_SYSTEMLOG_H

#include <chrono>

#include "Status.h"
#include "TqString.h"

// Sends one line to the system log as the C library's syslog(3) would (the socket /dev/log, a
// datagram socket first and a stream one when the log listens on a stream; the same
// "<PRIORITY>TIMESTAMP IDENT[PID]: MESSAGE" frame), except that it never waits longer than bound:
// a log daemon that is stopped, or whose queue or backlog is full, must not hold up the program
// that logs.
namespace SystemLog
{

// How long one line may wait for a log that is busy.
constexpr std::chrono::milliseconds defaultBound{1000};

// Done when the log took the whole line; Failed with why it did not (ENOENT: this system has no
// log socket; ETIMEDOUT: the log did not take it within bound).
[[nodiscard]] Status Send(int priority, const char* ident, const TqString& message,
                          std::chrono::milliseconds bound = defaultBound);

} // namespace SystemLog

#endif
