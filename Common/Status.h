#ifndef TQ_STATUS_H
#define TQ_STATUS_H

#include "TqString.h"

// The outcome of an operation that can fail, below the library's own interfaces: done, or the
// system's errno value (0 when none applies) with a message saying what could not be done. One
// shape for every layer, so a reason travels up unchanged to the line or dialog that shows it.
class [[nodiscard]] Status
{
public:
    // Done.
    Status() = default;
    static Status Done() { return Status(); }
    // What could not be done and why; error is an errno value or 0.
    static Status Failed(int error, const TqString& message)
    {
        Status status;
        status.error = error;
        status.message = message.IsSet() ? message : TqString("failed");
        return status;
    }

    bool IsDone() const { return message.IsEmpty(); }
    int Errno() const { return error; }
    const TqString& Message() const { return message; }
    // "MESSAGE: the system's text for the errno value", or the message alone without one.
    TqString Text() const;

private:
    int error = 0;
    TqString message;
};

#endif
