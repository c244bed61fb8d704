#include "ProcessLauncher.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "FileDescriptor.h"
#include "StopRequests.h"

extern char** environ;

namespace
{

// The NUL-terminated pointer array posix_spawn wants; it points into command.
std::vector<char*> ArgumentPointers(const Vector<TqString>& command)
{
    std::vector<char*> pointers;
    for (const TqString& argument : command)
        pointers.push_back(const_cast<char*>(argument.ConstData()));
    pointers.push_back(nullptr);
    return pointers;
}

// The tool this process runs (one at a time), as the interruption handler reaches it: its id and
// the writing end of its standard input; 0 and -1 when none runs.
volatile sig_atomic_t runningToolPid = 0;
volatile sig_atomic_t runningToolStopChannel = -1;
// Set by an interruption while the shield is raised: a tool started after it is asked at once.
volatile sig_atomic_t stopWanted = 0;
// How much of the tool's output one system call takes: a pipe's whole capacity.
const size_t kReadAheadBytes = 65536;
const char kStopLine[] = "stop\n";

// Asks the running tool, if any, to stop: by its standard input, where the request waits until
// the tool looks (a signal could end a tool that has not yet set up its handling), or by a signal
// to one started for a user, which has no such input. Only calls that are safe in a handler.
void AskRunningToolToStop()
{
    const int channel = runningToolStopChannel;
    const pid_t tool = runningToolPid;
    if (channel >= 0)
        (void)!write(channel, kStopLine, sizeof kStopLine - 1);
    else if (tool > 0)
        (void)kill(tool, SIGTERM);
}

// An interruption while the shield is raised asks the tool to stop; this process goes on waiting
// for it.
void PassOnStop(int)
{
    const int savedErrno = errno;
    stopWanted = 1;
    AskRunningToolToStop();
    errno = savedErrno;
}

// The child RunAndWait waits for, and the first interruption that came while it did.
volatile sig_atomic_t waitedChildPid = 0;
volatile sig_atomic_t waitInterruption = 0;

void PassOnInterruption(int signalNumber)
{
    const int savedErrno = errno;
    if (waitInterruption == 0)
        waitInterruption = signalNumber;
    const pid_t child = waitedChildPid;
    if (child > 0)
        (void)kill(child, signalNumber);
    // sudo takes root's ids at moments while it asks, and then a signal from the user's process
    // is refused: the first interruption is passed on again each second until the child ends.
    (void)alarm(1);
    errno = savedErrno;
}

void PassOnInterruptionAgain(int)
{
    const int savedErrno = errno;
    const pid_t child = waitedChildPid;
    if (child > 0 && waitInterruption != 0)
    {
        (void)kill(child, waitInterruption);
        (void)alarm(1);
    }
    errno = savedErrno;
}

using StopHandlings = struct sigaction[std::size(StopRequests::kSignals)];

// Handles the four interruptions with handler, one at a time, restarting the reads and writes they
// interrupt; previous keeps the handling there was.
void HandleInterruptions(void (*handler)(int), StopHandlings& previous)
{
    struct sigaction handling = {};
    handling.sa_handler = handler;
    handling.sa_flags = SA_RESTART;
    sigfillset(&handling.sa_mask);
    for (size_t index = 0; index < std::size(StopRequests::kSignals); ++index)
        sigaction(StopRequests::kSignals[index], &handling, &previous[index]);
}

void PutBackInterruptions(const StopHandlings& previous)
{
    for (size_t index = 0; index < std::size(StopRequests::kSignals); ++index)
        sigaction(StopRequests::kSignals[index], &previous[index], nullptr);
}

// Children start with the interruptions, a closed pipe and a file-size limit at their default
// and nothing blocked, whatever this process ignores for itself or while it waits for them.
void ResetSignalsForChild(posix_spawnattr_t* attributes)
{
    sigset_t defaults, none;
    defaults = StopRequests::SignalSet();
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(attributes, &defaults);
    posix_spawnattr_setsigmask(attributes, &none);
    posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

// The exit status, or -1 when the child was killed by a signal or could not be waited for.
int WaitForChild(pid_t child)
{
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(child, &status, 0);
    while (reaped < 0 && errno == EINTR);
    if (reaped < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// What a child started for a user sees of the environment: a fixed PATH, the user's HOME and this
// process's locale, nothing else of root's.
std::vector<std::string> UserEnvironment(const UserIdentity& identity)
{
    std::vector<std::string> variables{"PATH=/usr/local/bin:/usr/bin:/bin",
                                       std::string("HOME=") + identity.home.ConstData()};
    for (char** variable = environ; *variable != nullptr; ++variable)
    {
        if (std::strncmp(*variable, "LANG=", 5) == 0 || std::strncmp(*variable, "LC_", 3) == 0)
            variables.push_back(*variable);
    }
    return variables;
}

// Forks a child that leaves this process's session, terminal, descriptors, folder and environment
// and becomes the user before it runs argv with output as its standard output and error; -1 with
// errno when no child could be made. A child that cannot do all of that exits 127 without running
// anything. Everything it may need is made before the fork: the child only makes system calls.
pid_t StartAsUser(const std::vector<char*>& argv, int output, const RunAsUser& runAs)
{
    const std::vector<std::string> environment = UserEnvironment(runAs.identity);
    std::vector<char*> environmentPointers;
    for (const std::string& variable : environment)
        environmentPointers.push_back(const_cast<char*>(variable.c_str()));
    environmentPointers.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0)
        return child;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : StopRequests::kSignals)
        (void)std::signal(signal, SIG_DFL);
    // Output first: /dev/null may then only land on standard input or above it.
    if (setsid() < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0)
        _exit(127);
    const int nothing = open("/dev/null", O_RDONLY);
    if (nothing < 0 || dup2(nothing, STDIN_FILENO) < 0 || chdir("/") != 0)
        _exit(127);
    // Whatever this process holds open stays here, close-on-exec or not.
    if (close_range(STDERR_FILENO + 1, ~0U, 0) != 0)
    {
        for (int fd = STDERR_FILENO + 1; fd < 65536; ++fd)
            (void)close(fd);
    }
    if (BecomeUser(runAs.identity) != 0)
        _exit(127);
    execve(argv[0], argv.data(), environmentPointers.data());
    _exit(127);
}

// The program's path as its own name, then the arguments.
Vector<TqString> CommandOf(const TqString& path, const Vector<TqString>& arguments)
{
    Vector<TqString> command;
    command.push_back(path);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

// Copies what arrives on input to output until input ends, and returns its last line that is not
// empty (cut to 4 KiB).
TqString PassOnKeepingLastLine(int input, int output)
{
    std::string current;
    std::string last;
    std::vector<char> buffer(4096);
    for (;;)
    {
        const ssize_t got = read(input, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        // What the person at the terminal should see goes on, even if this process cannot keep it.
        (void)!write(output, buffer.data(), static_cast<size_t>(got));
        for (ssize_t index = 0; index < got; ++index)
        {
            const char byte = buffer[static_cast<size_t>(index)];
            if (byte == '\n' || byte == '\r')
            {
                if (!current.empty())
                    last.swap(current);
                current.clear();
            }
            else if (current.size() < 4096)
                current.push_back(byte);
        }
    }
    return TqString(current.empty() ? last.c_str() : current.c_str());
}

} // namespace

Status LaunchDetached(const TqString& path, const Vector<TqString>& arguments)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no program to start");
    const Vector<TqString> command = CommandOf(path, arguments);
    std::vector<char*> argv = ArgumentPointers(command);
    pid_t child;
    const int error = posix_spawn(&child, path.ConstData(), nullptr, nullptr, argv.data(), environ);
    return error == 0 ? Status::Done() : Status::Failed(error, TqString("could not start ") + path);
}

Status ReplaceProcess(const TqString& path, const Vector<TqString>& arguments)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no program to start");
    const Vector<TqString> command = CommandOf(path, arguments);
    std::vector<char*> argv = ArgumentPointers(command);
    // Nothing written so far may be lost with this process image.
    (void)std::fflush(nullptr);
    execv(path.ConstData(), argv.data());
    return Status::FromErrno(TqString("could not start ") + path);
}

namespace
{

// Starts command with its standard error into errorsTo when open; 0 or the error of posix_spawn.
int SpawnWithErrorsTo(const Vector<TqString>& command, const FileDescriptor& errorsTo, pid_t* child)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errorsTo.IsOpen())
        posix_spawn_file_actions_adddup2(&actions, errorsTo.Get(), STDERR_FILENO);
    std::vector<char*> argv = ArgumentPointers(command);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    ResetSignalsForChild(&attributes);
    const int error = posix_spawn(child, command[0].ConstData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// With interruptions let through to the handler that passes them on: passes the child's standard
// error on (keeping its last line) and waits until the child has ended, leaving it to be reaped.
void WaitPassingOnInterruptions(pid_t child, const sigset_t& unblocked, const FileDescriptor& errors,
                                TqString* lastErrorLine)
{
    const sigset_t interruptions = StopRequests::SignalSet();
    waitedChildPid = child;
    sigprocmask(SIG_SETMASK, &unblocked, nullptr);
    if (errors.IsOpen())
        *lastErrorLine = PassOnKeepingLastLine(errors.Get(), STDERR_FILENO);
    siginfo_t ended;
    while (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT) != 0 && errno == EINTR)
    {
    }
    sigprocmask(SIG_BLOCK, &interruptions, nullptr);
    waitedChildPid = 0;
}

// Ctrl-C reaches the whole foreground group, this process again as the child ends: one held back
// meanwhile belongs to this wait, and must not meet the previous handling (often the default,
// which would end the run with nothing said).
void TakeHeldInterruptions()
{
    const sigset_t interruptions = StopRequests::SignalSet();
    const struct timespec now = {0, 0};
    for (int held; (held = sigtimedwait(&interruptions, nullptr, &now)) > 0;)
    {
        if (waitInterruption == 0)
            waitInterruption = held;
    }
}

} // namespace

int RunAndWait(const Vector<TqString>& command, TqString* lastErrorLine, int* interruptedBy)
{
    if (command.empty() || command[0].IsEmpty())
        return -1;
    int pipeEnds[2] = {-1, -1};
    if (lastErrorLine != nullptr && pipe2(pipeEnds, O_CLOEXEC) != 0)
        return -1;
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);
    // An interruption while the child runs (sudo asking for the password, say) is passed on to
    // it, so that it never outlives this run still reading the terminal. Interruptions are held
    // back until the child's id is known, and again from when it has ended until it is reaped.
    const sigset_t interruptions = StopRequests::SignalSet();
    sigset_t previousMask;
    sigprocmask(SIG_BLOCK, &interruptions, &previousMask);
    StopHandlings previous;
    HandleInterruptions(PassOnInterruption, previous);
    struct sigaction again = {};
    again.sa_handler = PassOnInterruptionAgain;
    again.sa_flags = SA_RESTART;
    sigfillset(&again.sa_mask);
    struct sigaction previousAlarm;
    sigaction(SIGALRM, &again, &previousAlarm);
    waitInterruption = 0;
    pid_t child = -1;
    const int error = SpawnWithErrorsTo(command, writeEnd, &child);
    writeEnd = FileDescriptor();
    if (error == 0)
        WaitPassingOnInterruptions(child, previousMask, readEnd, lastErrorLine);
    (void)alarm(0);
    sigaction(SIGALRM, &previousAlarm, nullptr);
    TakeHeldInterruptions();
    PutBackInterruptions(previous);
    const int status = error == 0 ? WaitForChild(child) : -1;
    if (interruptedBy != nullptr)
        *interruptedBy = waitInterruption;
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return status;
}

void AskToolToStop()
{
    PassOnStop(0);
}

void InterruptionShield::Raise()
{
    if (raised)
        return;
    stopWanted = 0;
    HandleInterruptions(PassOnStop, previous);
    raised = true;
}

void InterruptionShield::Lower()
{
    if (!raised)
        return;
    PutBackInterruptions(previous);
    stopWanted = 0;
    raised = false;
}

namespace
{

struct Pipe
{
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

Result<Pipe> MakePipe()
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return Status::FromErrno("could not make a pipe");
    return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// Starts the tool as this process's user: standard output and error share the pipe at output, so
// whatever the tool or an elevation program says reaches the person (dup2 clears close-on-exec on
// these two only), standard input is the stop request's way in; in a session of its own when
// withoutTerminal. 0 or the error of posix_spawn.
int SpawnTool(const Vector<TqString>& command, std::vector<char*>& argv, const FileDescriptor& output,
              const FileDescriptor& input, bool withoutTerminal, pid_t* child)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output.Get(), STDERR_FILENO);
    posix_spawn_file_actions_adddup2(&actions, input.Get(), STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    ResetSignalsForChild(&attributes);
    if (withoutTerminal)
    {
        short flags = 0;
        posix_spawnattr_getflags(&attributes, &flags);
        posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETSID));
    }
    const int error = posix_spawn(child, command[0].ConstData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

} // namespace

Status ToolProcess::Start(const Vector<TqString>& command, const RunAsUser& runAs)
{
    if (pid > 0)
        return Status::Failed(EBUSY, "the removal tool is already running");
    if (command.empty() || command[0].IsEmpty())
        return Status::Failed(ENOENT, "no program to start");
    Result<Pipe> toolOutput = MakePipe();
    // The stop request's way in: never blocks this process, even if the tool does not read it.
    Result<Pipe> stopInput = MakePipe();
    if (!toolOutput.IsDone() || !stopInput.IsDone())
        return toolOutput.IsDone() ? stopInput.GetStatus() : toolOutput.GetStatus();
    FileDescriptor& readEnd = toolOutput.Value().readEnd;
    FileDescriptor& writeEnd = toolOutput.Value().writeEnd;
    FileDescriptor& stopRead = stopInput.Value().readEnd;
    FileDescriptor& stopWrite = stopInput.Value().writeEnd;
    (void)fcntl(stopWrite.Get(), F_SETFL, O_NONBLOCK);
    std::vector<char*> argv = ArgumentPointers(command);
    // Interruptions wait until the new tool can be reached.
    const sigset_t interruptions = StopRequests::SignalSet();
    sigset_t previousMask;
    sigprocmask(SIG_BLOCK, &interruptions, &previousMask);
    pid_t child = -1;
    int error = 0;
    if (runAs.set)
    {
        child = StartAsUser(argv, writeEnd.Get(), runAs);
        error = child < 0 ? errno : 0;
    }
    else
        error = SpawnTool(command, argv, writeEnd, stopRead, withoutTerminal, &child);
    if (error != 0)
    {
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        return Status::Failed(error, TqString("could not start ") + command[0]);
    }
    pid = child;
    output = std::move(readEnd);
    if (!runAs.set)
        stopChannel = std::move(stopWrite);
    runningToolStopChannel = stopChannel.Get();
    runningToolPid = pid;
    // Asked before this tool started (the one before it, say, that pkexec could not run).
    if (stopWanted != 0)
        AskRunningToolToStop();
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return Status::Done();
}

long ToolProcess::Read(char* buffer, unsigned long size)
{
    if (!output.IsOpen())
        return -1;
    if (!HasReadAhead())
    {
        readAhead.resize(kReadAheadBytes);
        ssize_t got;
        // A signal is not the end of the output; stopping here would leave the tool blocked.
        while ((got = read(output.Get(), readAhead.data(), readAhead.size())) < 0 && errno == EINTR)
        {
        }
        readAheadStart = 0;
        readAheadEnd = got > 0 ? static_cast<size_t>(got) : 0;
        if (got <= 0)
            return static_cast<long>(got);
    }
    const size_t handed = std::min(static_cast<size_t>(size), readAheadEnd - readAheadStart);
    std::memcpy(buffer, readAhead.data() + readAheadStart, handed);
    readAheadStart += handed;
    return static_cast<long>(handed);
}

int ToolProcess::Wait()
{
    output = FileDescriptor();
    readAheadStart = readAheadEnd = 0;
    // No stop is passed on to a process that is being reaped, nor to a later one of that id.
    if (pid > 0 && runningToolPid == pid)
    {
        runningToolPid = 0;
        runningToolStopChannel = -1;
    }
    stopChannel = FileDescriptor();
    endingSignal = 0;
    if (pid <= 0)
        return -1;
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(pid, &status, 0);
    while (reaped < 0 && errno == EINTR);
    pid = -1;
    if (reaped < 0)
        return -1;
    if (WIFSIGNALED(status))
        endingSignal = WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ToolProcess::Close()
{
    Wait();
}
