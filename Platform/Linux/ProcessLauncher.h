#ifndef TQ_PROCESSLAUNCHER_H
#define TQ_PROCESSLAUNCHER_H

#include <iterator>
#include <signal.h>
#include <sys/types.h>
#include <vector>

#include "FileDescriptor.h"
#include "Status.h"
#include "StopRequests.h"
#include "TqString.h"
#include "UserIdentity.h"
#include "Vector.h"

// Starts path with the arguments (the program name is path itself) and does not wait for it. The
// child inherits the environment and the standard streams. Fails when it could not be started.
Status LaunchDetached(const TqString& path, const Vector<TqString>& arguments);

// Replaces this process with path and the arguments (execv): same process id, process group,
// terminal and waiting parent. Returns only when that failed.
Status ReplaceProcess(const TqString& path, const Vector<TqString>& arguments);

// Runs command[0] with the standard streams and the terminal of this process and waits for it:
// its exit status, or -1 when it could not start or was killed by a signal. With lastErrorLine,
// its standard error is passed on to this process's and its last line kept there (the reason a
// program gives for refusing). Ctrl-C, Ctrl-\, SIGTERM and SIGHUP that this process gets meanwhile
// are passed on to the child, so it ends with the run; the first of them is put in interruptedBy
// (0 for none), and this process goes on, also when more came after the child had ended.
[[nodiscard]] int RunAndWait(const Vector<TqString>& command, TqString* lastErrorLine = nullptr,
                             int* interruptedBy = nullptr);

// The user a child process runs as instead of this process's own ids.
struct RunAsUser
{
    bool set = false;
    UserIdentity identity;
};

// While raised, Ctrl-C, Ctrl-\, SIGTERM and SIGHUP do not end this process, so a removal that has
// started is waited for and reported: each is passed on to the running ToolProcess as a request
// to stop, which the tool honours while it has removed nothing yet. Children started here get
// them back at default.
class InterruptionShield
{
public:
    InterruptionShield() {}
    InterruptionShield(const InterruptionShield&) = delete;
    InterruptionShield& operator=(const InterruptionShield&) = delete;
    ~InterruptionShield() { Lower(); }

    void Raise();
    // Puts back the handling there was before Raise.
    void Lower();

private:
    bool raised = false;
    struct sigaction previous[std::size(StopRequests::kSignals)];
};

// Asks the running tool to stop, as an interruption does while the shield is raised (a tool
// started afterwards is asked at once): the Cancel of the progress window.
void AskToolToStop();

// A child process whose standard output is read through a pipe, started from an argument vector
// (never through a shell).
class ToolProcess
{
public:
    ToolProcess() {}
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;
    ~ToolProcess() { Close(); }

    // command[0] is the program's path; its standard output and error go to the one pipe read
    // here, and its standard input is a pipe on which a raised InterruptionShield writes the line
    // "stop" (a tool running as root through pkexec or sudo cannot be signalled by this process).
    // With runAs, the child is cut off from this process before it runs the program (a session of
    // its own without a terminal, standard input from /dev/null, no other descriptor, the folder /,
    // a fixed environment: PATH, the user's HOME, the locale; the user's ids by BecomeUser), and is
    // sent SIGTERM instead. Fails when a process is already running or it cannot start.
    Status Start(const Vector<TqString>& command, const RunAsUser& runAs = RunAsUser());
    // Whether the processes Start starts from now on (without runAs, which always has) get a
    // session of their own, without the controlling terminal: a prompt of theirs then never
    // reads the terminal a shell has taken back.
    void StartWithoutTerminal(bool without) { withoutTerminal = without; }
    // Up to size bytes of its output: 0 at the end, less than 0 on an error or when not started.
    // The pipe is read a block at a time, so that a reader taking a few bytes at a time costs no
    // system call for each; what a read returns is what has come, never waited for to fill.
    long Read(char* buffer, unsigned long size);
    // Whether output read from the pipe is still to be handed out: Read returns it at once.
    bool HasReadAhead() const { return readAheadStart < readAheadEnd; }
    // Stops reading and waits for the process: its exit status, or -1 when it was killed by a
    // signal or none was started.
    int Wait();
    // The signal that killed the process Wait reaped last; 0 when it exited or none was reaped.
    int EndingSignal() const { return endingSignal; }
    // Stops reading and reaps the process if it is still there.
    void Close();
    // The running process's id, -1 when none runs.
    pid_t Pid() const { return pid; }
    // The read end of its output, for waiting on it alongside other work; -1 when not reading.
    int OutputDescriptor() const { return output.Get(); }

private:
    pid_t pid = -1;
    int endingSignal = 0;
    bool withoutTerminal = false;
    FileDescriptor output;
    FileDescriptor stopChannel;
    std::vector<char> readAhead; // made once, the size of one read
    size_t readAheadStart = 0;
    size_t readAheadEnd = 0;
};

#endif
