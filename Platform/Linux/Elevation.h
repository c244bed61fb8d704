#ifndef TQ_ELEVATION_H
#define TQ_ELEVATION_H

#include "TqString.h"
#include "UninstallerPlatform.h"
#include "Vector.h"

// How the removal tool gets administrator rights on Linux.
enum class ElevationMethod
{
    None,   // no way to elevate: the acquisition fails
    Direct, // no rights to obtain (root, or the installation is the user's own): the tool runs as it is
    Pkexec, // pkexec TOOL ARGS...
    Sudo    // sudo -v asks on the terminal first, then sudo -n -- TOOL ARGS...
};

struct Elevation
{
    ElevationMethod method = ElevationMethod::None;
    TqString programPath; // pkexec's or sudo's full path
};

// The full path of an executable regular file called name in a PATH value; unset when none.
// Empty and relative entries are skipped, so nothing is picked up from the working directory.
TqString FindOnPath(const TqString& name, const char* pathValue);

// True when the process has a controlling terminal to ask a password on.
bool HasTerminal();

// True when the process has a controlling terminal and is in its foreground, so a password asked
// there reaches it (a background process reading it would be stopped or get an error).
bool HasTerminalForeground();

// Directly when no rights are needed (root, or an installation the user controls); otherwise
// pkexec when on PATH; otherwise sudo when on PATH and a terminal is there to ask on; otherwise none.
Elevation ChooseElevation(bool runsDirectly, const char* pathValue, bool hasTerminal);

// The argument vector that runs the tool with the chosen elevation; empty for None.
Vector<TqString> PrivilegedCommand(const Elevation& elevation, const TqString& toolPath,
                                   const Vector<TqString>& arguments);

// The command that asks for the password before the tool runs (sudo -v), so that a refusal is
// told apart from the tool's own failure; empty when the method asks nothing beforehand.
Vector<TqString> RightsCheckCommand(const Elevation& elevation);

// pkexec's own 126 (its dialog was dismissed) and 127 (it could not authenticate) say nothing
// about the tool: the first ends the run quietly, the second means the rights were not obtained.
// A process ended by an interruption (Ctrl-C, Ctrl-\, SIGTERM, SIGHUP; endingSignal) is
// cancelled: the tool takes these over before it does anything, so what they ended was the
// elevation program still asking (pkexec runs the tool in its own process, sudo dies of the
// signal that ended it) or the tool before its start. Otherwise the tool's own: 0 done, 2 nothing
// removed (refused), 3 nothing found, 4 cancelled, anything else failed.
ToolOutcome OutcomeOfExit(ElevationMethod method, int exitStatus, int endingSignal = 0);

// After pkexec could not get the rights (127), from all it said: in plain words whether polkit
// answered no or nobody could be asked (no authentication agent, no terminal for its own
// prompt), and what to do.
TqString PkexecFailureAdvice(const TqString& said);

#endif
