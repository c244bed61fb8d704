#ifndef TQ_UNINSTALLERFLOW_H
#define TQ_UNINSTALLERFLOW_H

#include "TqString.h"
#include "UninstallerPlatform.h"

// The uninstaller's two phases. The first runs from the installed bundle: it confirms, copies the
// bundle to a fresh temporary directory and starts the copy with the relaunch marker "1" and the
// installed bundle's path after it (the platform may run the copy in this very process). The
// second runs from that copy: it elevates, runs InstallUtility (the installed one when root alone
// can change it) and reports, also when the rights could not be obtained.

// Runs one phase for this command line and returns 0, whatever happened.
int RunUninstaller(int argc, const char* const* argv, UninstallerPlatform& platform);

// True when an argument after the program name is exactly "1".
bool HasRelaunchMarker(int argc, const char* const* argv);

// The installed bundle's path: the argument right after the first relaunch marker, when it is an
// absolute path; else an unset string.
TqString InstalledBundleArgument(int argc, const char* const* argv);

// What the uninstaller takes from the product definition, read once per run.
struct ProductFacts
{
    TqString name;                    // the display name, or "this product"
    unsigned long installEntries = 0; // lines the removal tool prints per entry (CountInstallEntries)
};
ProductFacts ReadProductFacts(const TqString& definitionPath);

// The product's display name from the definition file, or "this product".
TqString GetProductName(const TqString& definitionPath);

// A newly created private directory with an unpredictable name in the user's temporary directory,
// or an unset string when it could not be created.
TqString CreateTemporaryDirectory(UninstallerPlatform& platform);

void RunFirstPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                   const TqString& targetPathFile, const TqString& productName);
// installEntries: how many entries the tool handles, the whole of the progress shown meanwhile.
void RunSecondPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                    const TqString& targetPathFile, const TqString& productName,
                    const TqString& installedBundlePath = TqString(), unsigned long installEntries = 0);

#endif
