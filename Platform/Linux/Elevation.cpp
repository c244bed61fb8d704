#include "Elevation.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "PathText.h"

TqString FindOnPath(const TqString& name, const char* pathValue)
{
    if (name.IsEmpty() || pathValue == nullptr)
        return TqString();
    TqString entries(pathValue);
    unsigned long start = 0;
    while (start <= entries.Size())
    {
        unsigned long colon = entries.IndexOf(":", start);
        unsigned long end = entries.HasOf(colon) ? colon : entries.Size();
        TqString folder = entries.Substr(start, end - start);
        if (folder.IsSet() && folder[0] == '/')
        {
            TqString candidate = PathText::Join(folder, name);
            struct stat status;
            if (stat(candidate.ConstData(), &status) == 0 && S_ISREG(status.st_mode) &&
                access(candidate.ConstData(), X_OK) == 0)
                return candidate;
        }
        start = end + 1;
    }
    return TqString();
}

bool HasTerminal()
{
    return FileDescriptor(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)).IsOpen();
}

bool HasTerminalForeground()
{
    const FileDescriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    return terminal.IsOpen() && tcgetpgrp(terminal.Get()) == getpgrp();
}

Elevation ChooseElevation(bool runsDirectly, const char* pathValue, bool hasTerminal)
{
    Elevation elevation;
    if (runsDirectly)
    {
        elevation.method = ElevationMethod::Direct;
        return elevation;
    }
    TqString pkexec = FindOnPath("pkexec", pathValue);
    if (pkexec.IsSet())
    {
        elevation.method = ElevationMethod::Pkexec;
        elevation.programPath = pkexec;
        return elevation;
    }
    TqString sudo = hasTerminal ? FindOnPath("sudo", pathValue) : TqString();
    if (sudo.IsSet())
    {
        elevation.method = ElevationMethod::Sudo;
        elevation.programPath = sudo;
    }
    return elevation;
}

Vector<TqString> PrivilegedCommand(const Elevation& elevation, const TqString& toolPath,
                                   const Vector<TqString>& arguments)
{
    Vector<TqString> command;
    switch (elevation.method)
    {
    case ElevationMethod::None:
        return command;
    case ElevationMethod::Direct:
        break;
    case ElevationMethod::Pkexec:
        command.push_back(elevation.programPath);
        break;
    case ElevationMethod::Sudo:
        // The password was asked by the rights check; sudo must not ask again with the tool's output piped.
        command.push_back(elevation.programPath);
        command.push_back("-n");
        command.push_back("--");
        break;
    }
    command.push_back(toolPath);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

Vector<TqString> RightsCheckCommand(const Elevation& elevation)
{
    Vector<TqString> command;
    if (elevation.method == ElevationMethod::Sudo)
    {
        command.push_back(elevation.programPath);
        command.push_back("-v");
    }
    return command;
}

TqString PkexecFailureAdvice(const TqString& said)
{
    if (said.IndexOf("Not authorized", 0) != TqString::maxLen)
        return "The system's policy does not allow you to remove it: ask an administrator to remove it.";
    return "Nobody could be asked for the password: start your desktop's authentication agent, run the "
           "uninstaller from a terminal, or ask an administrator to remove it.";
}

ToolOutcome OutcomeOfExit(ElevationMethod method, int exitStatus, int endingSignal)
{
    if (endingSignal == SIGINT || endingSignal == SIGQUIT || endingSignal == SIGTERM ||
        endingSignal == SIGHUP)
        return ToolOutcome::Cancelled;
    if (method == ElevationMethod::Pkexec && exitStatus == 126)
        return ToolOutcome::AuthorizationRefused;
    if (method == ElevationMethod::Pkexec && exitStatus == 127)
        return ToolOutcome::RightsNotObtained;
    switch (exitStatus)
    {
    case 0:
        return ToolOutcome::Succeeded;
    case 2:
        return ToolOutcome::NothingRemoved;
    case 3:
        return ToolOutcome::NotFound;
    case 4:
        return ToolOutcome::Cancelled;
    default:
        return ToolOutcome::Failed;
    }
}
