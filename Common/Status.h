#ifndef TQ_STATUS_H
#define TQ_STATUS_H

#include "TqString.h"

#include <cerrno>
#include <optional>
#include <utility>

// The outcome of an operation that can fail, below the library's own interfaces: done, or the
// system's errno value (0 when none applies) with a message saying what could not be done. One
// shape for every layer, so a reason travels up unchanged to the line or dialog that shows it.
// errno becomes a Status once, right at the system call (FromErrno); above that, callers ask the
// predicates and never compare errno values themselves.
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
    // What the system call just made failed, with the errno it left; call it straight after the call.
    static Status FromErrno(const TqString& message) { return Failed(errno, message); }
    // Done when the name is already gone (another removal took it): nothing was left to remove.
    Status DoneIfGone() const { return IsNotFound() ? Done() : *this; }
    // The same reason with a message that says what the caller was doing; done stays done.
    Status Because(const TqString& newMessage) const { return IsDone() ? *this : Failed(error, newMessage); }

    bool IsDone() const { return message.IsEmpty(); }
    // The name (or a folder on its way) is not there.
    bool IsNotFound() const { return error == ENOENT; }
    // The system refused the caller's rights, or a flag or policy forbids the change.
    bool IsPermissionDenied() const { return error == EACCES || error == EPERM; }
    // A link or something other than a folder stood where a folder was expected.
    bool IsNotFolder() const { return error == ENOTDIR || error == ELOOP; }
    // A folder could not go because something is still in it.
    bool IsNotEmpty() const { return error == ENOTEMPTY || error == EEXIST; }
    bool IsBusy() const { return error == EBUSY; }
    bool IsReadOnlyFileSystem() const { return error == EROFS; }
    bool IsCancelled() const { return error == ECANCELED; }
    // What was opened is no longer what was meant: replaced while it was being checked.
    bool IsStale() const { return error == ESTALE; }
    // The log socket wants the other kind of socket (a stream rather than datagrams, say).
    bool IsWrongSocketType() const { return error == EPROTOTYPE; }
    // The system refused a call (it gave an errno value), rather than a rule of our own.
    bool IsSystemFailure() const { return error != 0; }
    // Unlinking was refused for what may be a folder: EISDIR, or EPERM where a system says that.
    bool MayBeFolder() const { return error == EISDIR || error == EPERM; }
    // A symbolic link stood where the call follows none.
    bool IsLink() const { return error == ELOOP; }
    // The caller's rights on a folder refused it, as opposed to a flag or policy (EPERM).
    bool IsAccessDenied() const { return error == EACCES; }
    // The call does not apply to what it was given, such as reading a link that is not one.
    bool IsInvalidArgument() const { return error == EINVAL; }

    // For the places that hand the reason on to the system or to strerror.
    int Errno() const { return error; }
    const TqString& Message() const { return message; }
    // "MESSAGE: the system's text for the errno value", or the message alone without one.
    TqString Text() const;

private:
    int error = 0;
    TqString message;
};

// A value, or the Status that says why there is none: one result for a function that can fail,
// instead of a Status with out-parameters.
template <typename T>
class [[nodiscard]] Result
{
public:
    Result(T done) : value(std::move(done)) {}
    // A failed status; a done one here would be a result without a value, so it counts as failed.
    Result(Status failure)
        : status(failure.IsDone() ? Status::Failed(0, "no value") : std::move(failure))
    {
    }

    bool IsDone() const { return value.has_value(); }
    const Status& GetStatus() const { return status; }
    const T& Value() const { return *value; }
    T& Value() { return *value; }
    T TakeValue() { return std::move(*value); }

private:
    std::optional<T> value;
    Status status;
};

#endif
