#ifndef TQ_INSTALLUTILITYCOMMAND_H
#define TQ_INSTALLUTILITYCOMMAND_H

#include <cstdio>
#include <string>

#include "RemovalLock.h"
#include "TqString.h"

// What the program (and a test) may change about a run of the tool.
struct InstallUtilityHooks
{
    // Called as removing begins.
    void (*beforeRemoval)() = nullptr;
    // Whether the run was asked to stop (a signal, or "stop" on its input): before removing began
    // it then ends with status 4, nothing removed; while removing, after the entry under way,
    // with status 4 and what was not reached kept.
    bool (*stopAsked)() = nullptr;
    // How long to wait for another removal of the same target.
    int lockWaitSeconds = RemovalLock::defaultWaitSeconds;
    // Whether the process ends when the run returns: the definition read is then left for the
    // system to take back with the process, rather than freed entry by entry.
    bool endsProcess = false;
};

// The removal tool's command line: -uninstall DEFINITION TARGETFILE [-v] [-n] [-json],
// -check DEFINITION TARGETFILE [-json], or --help.
class InstallUtilityCommand
{
public:
    // False for anything else: another command, a missing or empty path, an unknown option.
    bool Parse(int argc, const char* const argv[]);

    using Hooks = InstallUtilityHooks;

    // Takes on the rights of whoever controls the tool and both files (RemovalRights), reads the
    // files, waits for the target's turn (RemovalLock) and removes. Returns the tool's exit
    // status: 0 done (or --help), 1 an entry failed or was refused, 2 a bad command line, an
    // unreadable or refused definition or target file, inputs the rights rule refuses, or another
    // removal of the target still running (nothing touched), 3 no listed entry found, 4 asked to stop. A run as root on inputs
    // a user controls drops the calling process to that user for good.
    static int Run(int argc, const char* const argv[], FILE* out, FILE* errors, const Hooks& hooks = Hooks());

    // What --help prints, and a bad command line on standard error.
    static const char usage[];

    // Whether the product is installed in the target, said without changing anything: the
    // statuses of the answers.
    static constexpr int installed = 0;
    static constexpr int notInstalled = 3;
    static constexpr int partlyInstalled = 5;

    TqString definitionPath;
    TqString targetFilePath;
    bool check = false;
    bool verbose = false;
    bool dryRun = false;
    bool json = false;
    // With -sha256: the SHA-256 the definition's bytes must have (the one a person confirmed).
    std::string expectedDigest;
};

#endif
