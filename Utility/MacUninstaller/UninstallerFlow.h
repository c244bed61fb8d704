#ifndef TQ_UNINSTALLERFLOW_H
#define TQ_UNINSTALLERFLOW_H

#include <string>

#include "Status.h"
#include "TqString.h"
#include "UninstallerPlatform.h"

// The uninstaller's two phases. The first runs from the installed bundle: it confirms, copies the
// bundle to a fresh temporary directory and starts the copy with the relaunch marker "1" and the
// installed bundle's path after it (the platform may run the copy in this very process). The
// second runs from that copy, which it removes at once: it runs the installed InstallUtility on
// the installed data files (with administrator rights when the installation is root's) and
// reports, also when the rights could not be obtained.

// What Uninstall tells its caller.
enum UninstallStatus
{
    kUninstallRemoved = 0,        // removed (or, with windows, the second phase started)
    kUninstallFailed = 1,         // failed, something is left
    kUninstallNothingRemoved = 2, // configuration or unexpected error, nothing removed
    kUninstallNoRights = 3,       // administrator rights not obtained
    kUninstallCancelled = 4,      // cancelled: nothing removed, or some of it (run again to finish)
    kUninstallNotFound = 5        // nothing of the product was in its folder, nothing removed
};

// Runs one phase for this command line and returns the exit status. Before anything else, an
// argument that looks like an option a person typed but is none of ours is refused with the usage
// on standard error (status 2); -h or --help prints the usage and --version the version on
// standard output; -n or --dry-run runs the tool's dry run through the same dialogs.
int RunUninstaller(int argc, const char* const* argv, UninstallerPlatform& platform);

// The usage text: options, modes, environment, exit statuses.
const char* UsageText();

// True when an argument after the program name is option or its other spelling (nullptr for none).
bool HasOption(int argc, const char* const* argv, const char* option, const char* otherSpelling);

// The first argument that looks like an option a person types ("--" and anything after it, or "-"
// and a letter) and is not one Uninstall knows; nullptr when there is none. Other arguments
// ("-1", "01", the relaunch's "1" and bundle path) are no options.
const char* UnknownOption(int argc, const char* const* argv);

// True when an argument after the program name is exactly "1".
bool HasRelaunchMarker(int argc, const char* const* argv);

// The installed bundle's path: the argument right after the first relaunch marker, when it is an
// absolute path; else an unset string.
TqString InstalledBundleArgument(int argc, const char* const* argv);

// What the uninstaller takes from the product definition, read once per run.
struct ProductFacts
{
    TqString name;                    // the display name, or "this product"
    TqString id, build;               // the sku element's ID and build, as written
    std::string digest;               // the SHA-256 of the definition's bytes as read; empty when unread
    unsigned long installEntries = 0; // lines the removal tool prints per entry (CountInstallEntries)
};
ProductFacts ReadProductFacts(const TqString& definitionPath);
// The same without the install-file tree (installEntries 0); withDigest, with the digest of the
// bytes read.
ProductFacts ReadProductIdentity(const TqString& definitionPath, bool withDigest = true);

// The product's display name from the definition file, or "this product".
TqString GetProductName(const TqString& definitionPath);

// A new private directory (path) with an unpredictable name in the user's temporary directory
// (parent).
struct PrivateFolder
{
    TqString parent;
    TqString path;
};
// Makes one; the failure says why.
Result<PrivateFolder> CreateTemporaryDirectory(UninstallerPlatform& platform);

// Each returns the exit status. dryRun: the tool only says what it would do, and the first phase
// hands the option on to the copy. definitionDigest: the SHA-256 of the definition the user
// confirmed; the first phase hands it on, and the second has the tool refuse any other.
int RunFirstPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                  const TqString& targetPathFile, const TqString& productName, bool dryRun = false,
                  const std::string& definitionDigest = std::string());
// installedBundleArgument: the installed bundle the first phase came from; unset when this is the
// installed bundle itself.
int RunSecondPhase(UninstallerPlatform& platform, const TqString& installedBundleArgument,
                   bool dryRun = false, const std::string& definitionDigest = std::string());

#endif
