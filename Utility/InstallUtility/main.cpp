#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>

#include "InstallUtilityCommand.h"
#include "StopRequest.h"

namespace
{

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Once removing has begun, dying halfway through an entry would leave it half there and say
// nothing: the signals that ask to stop (kStopSignals) are only noted, and the walk stops between
// entries and reports. Every other signal that would end or stop the process is ignored from then
// on; what the process itself causes (a fault, an abort) and what cannot be caught (SIGKILL,
// SIGSTOP) are not.
void ignoreStoppingSignals()
{
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
    {
        switch (signalNumber)
        {
        case SIGKILL:
        case SIGSTOP:
        case SIGSEGV:
        case SIGBUS:
        case SIGFPE:
        case SIGILL:
        case SIGABRT:
        case SIGTRAP:
        case SIGSYS:
        case SIGCHLD:
        case SIGCONT:
        case SIGURG:
        case SIGWINCH:
        case SIGINT:
        case SIGTERM:
        case SIGHUP:
        case SIGQUIT:
            break;
        default:
            (void)signal(signalNumber, SIG_IGN);
        }
    }
}

// Asking the tool to stop, by a signal or by the line "stop" on its standard input, is noted: before
// removing has begun (while reading or waiting for another run) the run then ends before it removes
// anything; while removing, after the entry under way. Either way its record says so.
volatile sig_atomic_t stopSignalled = 0;
StopRequest stopLine(STDIN_FILENO);

void noteStop(int)
{
    stopSignalled = 1;
}

bool stopAsked()
{
    return stopSignalled != 0 || stopLine.Asked();
}

void cancelOnStoppingSignals()
{
    struct sigaction action = {};
    action.sa_handler = noteStop;
    // A write of the report under way when the request comes carries on: the walk looks between entries.
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    for (const int signalNumber : kStopSignals)
        sigaction(signalNumber, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    // The definition is parsed on a thread of its own (for its stack); with one arena for all
    // threads, the memory its document gives back serves the removal afterwards instead of
    // adding to the peak.
    (void)mallopt(M_ARENA_MAX, 1);
    // A reader that goes away early must not stop the removal halfway through.
    (void)signal(SIGPIPE, SIG_IGN);
    // A file-size limit on the report's file turns into a write error that is reported, not a death.
    (void)signal(SIGXFSZ, SIG_IGN);
    cancelOnStoppingSignals();
    InstallUtilityCommand::Hooks hooks;
    hooks.beforeRemoval = ignoreStoppingSignals;
    hooks.stopAsked = stopAsked;
    hooks.endsProcess = true;
    return InstallUtilityCommand::Run(argc, argv, stdout, stderr, hooks);
}
