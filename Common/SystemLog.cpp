#include "SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "FileDescriptor.h"

namespace
{

using Clock = std::chrono::steady_clock;

const char logSocketPath[] = "/dev/log";
// A listener with a full backlog gives no readiness to wait on: the connection is tried again.
const std::chrono::milliseconds connectRetry(20);

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

Status timedOut()
{
    return Status::Failed(ETIMEDOUT, TqString("the system log did not take this run's record"));
}

// A socket of type connected to the log, or Failed.
Status connectToLog(int type, Clock::time_point deadline, FileDescriptor& connected)
{
    FileDescriptor logSocket(socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!logSocket.IsOpen())
        return Status::FromErrno(TqString("cannot make a socket for the system log"));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    static_assert(sizeof logSocketPath <= sizeof address.sun_path);
    std::copy(std::begin(logSocketPath), std::end(logSocketPath), address.sun_path);
    while (connect(logSocket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return Status::FromErrno(TqString("cannot reach the system log at ") + logSocketPath);
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return timedOut();
        std::this_thread::sleep_for(std::min(connectRetry, std::chrono::milliseconds(left)));
    }
    connected = std::move(logSocket);
    return Status::Done();
}

// Sends all of text, waiting for room until deadline.
Status sendAll(int logSocket, const std::string& text, Clock::time_point deadline)
{
    size_t sent = 0;
    while (sent < text.size())
    {
        const ssize_t size =
            send(logSocket, text.data() + sent, text.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (size >= 0)
        {
            sent += static_cast<size_t>(size);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return Status::FromErrno(TqString("cannot send the record to the system log"));
        pollfd room = {logSocket, POLLOUT, 0};
        const int left = millisecondsLeft(deadline);
        if (left == 0)
            return timedOut();
        (void)poll(&room, 1, left);
    }
    return Status::Done();
}

// The frame the C library writes: "<PRIORITY>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE", in local time.
std::string frame(int priority, const char* ident, const TqString& message)
{
    const time_t now = time(nullptr);
    struct tm local = {};
    char stamp[32] = "";
    if (localtime_r(&now, &local) != nullptr)
        (void)strftime(stamp, sizeof stamp, "%h %e %T", &local);
    return "<" + std::to_string(priority) + ">" + stamp + " " + ident + "[" + std::to_string(getpid()) +
           "]: " + message.ConstData();
}

} // namespace

Status SystemLog::Send(int priority, const char* ident, const TqString& message,
                       std::chrono::milliseconds bound)
{
    const Clock::time_point deadline = Clock::now() + bound;
    std::string text = frame(priority, ident, message);
    FileDescriptor logSocket;
    Status status = connectToLog(SOCK_DGRAM, deadline, logSocket);
    if (status.IsWrongSocketType())
    {
        // A log that listens on a stream takes records ended by a NUL.
        text += '\0';
        status = connectToLog(SOCK_STREAM, deadline, logSocket);
    }
    if (!status.IsDone())
        return status;
    return sendAll(logSocket.Get(), text, deadline);
}
