#ifndef TQ_INSTALLUTILITYCOMMAND_H
#define TQ_INSTALLUTILITYCOMMAND_H

#include <cstdio>

#include "TqString.h"

// The removal tool's command line: -uninstall DEFINITION TARGETFILE [-v] [-n].
class InstallUtilityCommand
{
public:
    // False for anything else: another command, a missing or empty path, an unknown option.
    bool Parse(int argc, const char* const argv[]);

    // Reads both files and removes; the tool's exit status: 0 done, 1 an entry failed or was
    // refused, 2 a bad command line or an unreadable definition or target file (nothing touched).
    static int Run(int argc, const char* const argv[], FILE* out, FILE* errors);

    TqString definitionPath;
    TqString targetFilePath;
    bool verbose = false;
    bool dryRun = false;
};

#endif
