#ifndef TQ_INSTALLUTILITYCOMMAND_H
#define TQ_INSTALLUTILITYCOMMAND_H

#include <cstdio>

#include "TqString.h"

// The removal tool's command line: -uninstall DEFINITION TARGETFILE [-v] [-n], or --help.
class InstallUtilityCommand
{
public:
    // False for anything else: another command, a missing or empty path, an unknown option.
    bool Parse(int argc, const char* const argv[]);

    // Reads both files, takes the target folder's lock (waiting for another run to end), and
    // removes; beforeRemoval, when given, is called once nothing can stop the removal any more.
    // Returns the tool's exit status: 0 done (or --help), 1 an entry failed or was refused, 2 a
    // bad command line, an unreadable definition or target file, or an elevated run that may not
    // use them (nothing touched).
    static int Run(int argc, const char* const argv[], FILE* out, FILE* errors,
                   void (*beforeRemoval)() = nullptr);

    // What --help prints, and a bad command line on standard error.
    static const char usage[];

    TqString definitionPath;
    TqString targetFilePath;
    bool verbose = false;
    bool dryRun = false;
};

#endif
