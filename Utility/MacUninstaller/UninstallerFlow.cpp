#include "UninstallerFlow.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "LineEscaping.h"
#include "PathText.h"
#include "SKUDefinition.h"
#include "ToolOutputTally.h"

namespace
{

const char kRelaunchMarker[] = "1";
const char kDefinitionFile[] = "sku.xml";
const char kTargetPathFile[] = "target_path.xml";
const char kRemovalTool[] = "InstallUtility";
const char kCopiedBundle[] = "Uninstall.app";
const char kExecutableFolder[] = "Contents/MacOS";
const char kCopiedExecutable[] = "Contents/MacOS/Uninstall";
const char kAdminRight[] = "system.privilege.admin";

const char kUsage[] =
    "Usage: Uninstall [-h | --help]\n"
    "\n"
    "Removes the product this Uninstall.app belongs to, after asking for confirmation. It copies\n"
    "itself into a new private folder under the first usable of $TMPDIR, /tmp and /var/tmp, starts\n"
    "the copy with the argument 1 and the installed bundle's path, and runs the installed\n"
    "InstallUtility: as you when the installation is yours, through pkexec or sudo when it is root's.\n"
    "\n"
    "Dialogs are GTK windows when there is a display, questions at the terminal when there is one,\n"
    "and otherwise written to standard error and answered with their default button (Cancel).\n"
    "\n"
    "Environment:\n"
    "  UNINSTALL_UNATTENDED=1  ask nothing: each dialog, and before it the lines that explain it,\n"
    "                          is written to standard error; the confirmation is answered Uninstall\n"
    "\n"
    "Exit status (at a terminal, unattended and without a terminal; with GTK windows the first\n"
    "phase exits 0 once the copy has started):\n"
    "  0  removed\n"
    "  1  failed, something is left\n"
    "  2  configuration or unexpected error, nothing removed\n"
    "  3  administrator rights not obtained\n"
    "  4  cancelled, nothing removed\n";

// The product name is put in by concatenation, never through a format, so a "%" in it stays literal.
Alert ConfirmationAlert(const TqString& productName)
{
    Alert alert;
    alert.messageText = TqString("Uninstall ") + productName;
    alert.informativeText = TqString("Do you wish to remove ") + productName + " and all related components?";
    alert.defaultButton = "Cancel";
    alert.alternateButton = "Uninstall";
    alert.kind = AlertKind::Question;
    return alert;
}

Alert ConfigurationErrorAlert(const TqString& details = TqString())
{
    Alert alert;
    alert.details = details;
    alert.messageText = "Configuration Error";
    alert.informativeText = "Configuration file Uninstall.plist not found in application bundle.";
    alert.kind = AlertKind::Error;
    return alert;
}

Alert UnexpectedErrorAlert(const TqString& details)
{
    Alert alert;
    alert.details = details;
    alert.messageText = "Unexpected Error";
    alert.informativeText = "An unxpected error has occured. Restart uninstaller.";
    alert.kind = AlertKind::Error;
    return alert;
}

// The product's own dialogs after the confirmation: "Uninstall <product>" over what happened, with
// the lines that explain it (unset for none).
Alert ProductAlert(const TqString& productName, const TqString& informativeText, AlertKind kind,
                   const TqString& details = TqString())
{
    Alert alert;
    alert.messageText = TqString("Uninstall ") + productName;
    alert.informativeText = informativeText;
    alert.kind = kind;
    alert.details = details;
    return alert;
}

Alert CompletionAlert(const TqString& productName, const TqString& keptDetails)
{
    return ProductAlert(productName, "Uninstallation completed successfully.", AlertKind::Information,
                        keptDetails);
}

Alert FailureAlert(const TqString& productName, const TqString& details)
{
    return ProductAlert(productName, "Uninstallation failed. Some components may not have been removed.",
                        AlertKind::Error, details);
}

// The tool refused to start removing (exit 2).
Alert NothingRemovedAlert(const TqString& productName, const TqString& details)
{
    return ProductAlert(productName, "Uninstallation failed. Nothing was removed.", AlertKind::Error,
                        details);
}

// The tool was stopped before it removed anything (exit 4).
Alert CancelledAlert(const TqString& productName)
{
    return ProductAlert(productName, "Uninstallation was cancelled. Nothing was removed.",
                        AlertKind::Information);
}

Alert NoRightsAlert(const TqString& productName, const TqString& reason)
{
    return ProductAlert(productName,
                        TqString("Administrator rights are needed to remove ") + productName +
                            ", and they could not be obtained.",
                        AlertKind::Error, reason.IsSet() ? EscapeLineText(reason) : TqString());
}

// Empties the tool's output in small reads; the tool is finished only when its output closes.
// Each read is tallied at once and the progress shown only when the count moved, so the tool
// never waits on the display.
void DrainToolOutput(UninstallerPlatform& platform, ToolOutputTally& tally)
{
    char buffer[64];
    std::memset(buffer, 0, sizeof buffer);
    long got;
    while ((got = platform.ReadToolOutput(buffer, sizeof buffer)) > 0)
    {
        const unsigned long before = tally.Changes();
        tally.Feed(buffer, static_cast<unsigned long>(got));
        if (tally.Changes() != before)
            platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath());
    }
    const unsigned long before = tally.Changes();
    tally.Finish();
    if (tally.Changes() != before)
        platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath());
}

// The installed bundle's three files, and what the definition says of the product.
struct RemovalInputs
{
    TqString tool;
    TqString definition;
    TqString targetPathFile;
    ProductFacts product;
};

// The four authorization steps around one run of the tool, its output drained into tally while
// the progress is shown; then the dialog that reports it. The authorization is freed on every
// path. Returns the exit status.
int RunRemovalTool(UninstallerPlatform& platform, const RemovalInputs& inputs)
{
    const TqString& name = inputs.product.name;
    if (!platform.CreateAuthorization() || !platform.AcquireRight(kAdminRight))
    {
        const bool cancelled = platform.AcquisitionWasCancelled();
        const TqString reason = cancelled ? TqString() : platform.RightsFailureReason();
        platform.FreeAuthorization();
        if (cancelled)
            return kUninstallCancelled;
        platform.RunAlert(NoRightsAlert(name, reason));
        return kUninstallNoRights;
    }
    Vector<TqString> arguments;
    arguments.push_back("-uninstall");
    arguments.push_back(inputs.definition);
    arguments.push_back(inputs.targetPathFile);
    arguments.push_back("-v");
    const Status started = platform.ExecuteWithPrivileges(inputs.tool, arguments);
    if (!started.IsDone())
    {
        platform.FreeAuthorization();
        platform.RunAlert(
            UnexpectedErrorAlert(Status::Failed(started.Errno(), "could not start the removal tool").Text()));
        return kUninstallNothingRemoved;
    }
    ToolOutputTally tally;
    platform.BeginToolProgress(name, inputs.product.installEntries);
    ToolOutcome outcome;
    for (;;)
    {
        DrainToolOutput(platform, tally);
        outcome = platform.WaitForTool();
        if (outcome != ToolOutcome::Restarted)
            break;
        // What the first elevation program said is not the tool's report.
        tally = ToolOutputTally();
    }
    platform.EndToolProgress();
    const TqString rightsReason =
        outcome == ToolOutcome::RightsNotObtained ? platform.RightsFailureReason() : TqString();
    platform.FreeAuthorization();

    switch (outcome)
    {
    case ToolOutcome::Succeeded:
        platform.RunAlert(CompletionAlert(name, tally.KeptDetails()));
        return kUninstallRemoved;
    case ToolOutcome::NothingRemoved:
        platform.RunAlert(NothingRemovedAlert(name, tally.FailureDetails()));
        return kUninstallNothingRemoved;
    case ToolOutcome::Cancelled:
        platform.RunAlert(CancelledAlert(name));
        return kUninstallCancelled;
    case ToolOutcome::AuthorizationRefused:
        return kUninstallCancelled;
    case ToolOutcome::RightsNotObtained:
        platform.RunAlert(NoRightsAlert(name, rightsReason.IsSet() ? rightsReason : tally.LastMessage()));
        return kUninstallNoRights;
    case ToolOutcome::Failed:
    case ToolOutcome::Restarted:
        break;
    }
    platform.RunAlert(FailureAlert(name, tally.FailureDetails()));
    return kUninstallFailed;
}

// Asks the platform whether root may run this installation: the running bundle, its tool and
// both data files, those that are there.
Status CheckRootMayRun(UninstallerPlatform& platform, const TqString& definitionPath,
                       const TqString& targetPathFile)
{
    Vector<TqString> installed;
    installed.push_back(platform.BundlePath());
    for (const TqString& path : {platform.PathForAuxiliaryExecutable(kRemovalTool), definitionPath, targetPathFile})
    {
        if (path.IsSet())
            installed.push_back(path);
    }
    return platform.CheckRootMayRunInstallation(installed);
}

bool IsUsageOption(const char* argument)
{
    return argument != nullptr && (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0);
}

} // namespace

const char* UsageText()
{
    return kUsage;
}

bool AsksForUsage(int argc, const char* const* argv)
{
    for (int index = 1; index < argc; ++index)
    {
        if (IsUsageOption(argv[index]))
            return true;
    }
    return false;
}

bool HasRelaunchMarker(int argc, const char* const* argv)
{
    for (int index = 1; index < argc; ++index)
    {
        if (argv[index] != nullptr && std::strcmp(argv[index], kRelaunchMarker) == 0)
            return true;
    }
    return false;
}

namespace
{

// The name as the dialogs show it: one that is not valid UTF-8 cannot become a platform string,
// and the default stands then.
TqString shownProductName(const TqString& name)
{
    CFStringRef platformName = name.IsSet() ? name.CreateCFString() : nullptr;
    if (platformName == nullptr)
        return "this product";
    CFRelease(platformName);
    return name;
}

} // namespace

ProductFacts ReadProductFacts(const TqString& definitionPath)
{
    ProductFacts facts;
    facts.name = "this product";
    TqString path(definitionPath.ConstData(), TqString::maxLen);
    if (path.IsSet())
    {
        SKUDefinition definition;
        definition.fromFile(path);
        facts.name = shownProductName(definition.skuInfo.name);
        facts.installEntries = CountInstallEntries(definition.installRoot);
    }
    return facts;
}

TqString GetProductName(const TqString& definitionPath)
{
    TqString path(definitionPath.ConstData(), TqString::maxLen);
    if (!path.IsSet())
        return "this product";
    SKUDefinition definition;
    definition.identityFromFile(path);
    return shownProductName(definition.skuInfo.name);
}

TqString InstalledBundleArgument(int argc, const char* const* argv)
{
    for (int index = 1; index < argc; ++index)
    {
        if (argv[index] != nullptr && std::strcmp(argv[index], kRelaunchMarker) == 0)
            return index + 1 < argc && argv[index + 1] != nullptr && argv[index + 1][0] == '/'
                       ? TqString(argv[index + 1])
                       : TqString();
    }
    return TqString();
}

Status CreateTemporaryDirectory(UninstallerPlatform& platform, TqString& folder, TqString& path)
{
    // No usable temporary folder, or no unique name: never fall back to a path of its own making.
    path = TqString();
    const Status found = platform.TemporaryDirectory(folder);
    if (!found.IsDone())
        return found;
    const TqString unique = platform.GloballyUniqueString();
    if (folder.IsEmpty() || unique.IsEmpty())
        return Status::Failed(0, "could not make a name for a private folder");
    const TqString candidate = PathText::Join(folder, unique);
    const Status created = platform.CreateDirectory(candidate);
    if (!created.IsDone())
        return Status::Failed(created.Errno(), TqString("could not create a private folder in ") + folder);
    path = candidate;
    return Status::Done();
}

int RunFirstPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                  const TqString& targetPathFile, const TqString& productName)
{
    if (definitionPath.IsEmpty() || targetPathFile.IsEmpty())
    {
        platform.RunAlert(ConfigurationErrorAlert());
        return kUninstallNothingRemoved;
    }
    if (platform.RunAlert(ConfirmationAlert(productName)) != AlertAlternateReturn)
        return kUninstallCancelled;

    TqString folder;
    TqString temporaryDirectory;
    const Status made = CreateTemporaryDirectory(platform, folder, temporaryDirectory);
    if (!made.IsDone())
    {
        platform.RunAlert(UnexpectedErrorAlert(made.Text()));
        return kUninstallNothingRemoved;
    }
    // The user has confirmed: a copy or start that fails must not end the run silently.
    const TqString bundlePath = platform.BundlePath();
    const TqString copiedBundle = PathText::Join(temporaryDirectory, kCopiedBundle);
    // The copy learns where it came from: it runs the installed tool and reads the installed files.
    Vector<TqString> arguments;
    arguments.push_back(kRelaunchMarker);
    arguments.push_back(bundlePath);
    Status step = platform.CopyItem(bundlePath, copiedBundle);
    if (!step.IsDone())
        step = Status::Failed(step.Errno(), TqString("could not copy the uninstaller to ") + folder);
    else
    {
        step = platform.LaunchTask(PathText::Join(copiedBundle, kCopiedExecutable), arguments);
        if (!step.IsDone())
            step = Status::Failed(step.Errno(), "could not start the uninstaller's copy");
    }
    if (step.IsDone())
        return kUninstallRemoved;
    // What is left would only fill the temporary folder further with every retry.
    // Whatever could not be removed is left to the system's cleaning; the dialog comes all the same.
    (void)platform.RemoveItem(temporaryDirectory);
    platform.RunAlert(UnexpectedErrorAlert(step.Text()));
    return kUninstallNothingRemoved;
}

int RunSecondPhase(UninstallerPlatform& platform, const TqString& installedBundleArgument)
{
    platform.ActivateIgnoringOtherApps();

    // The copy exists only so that the installed Uninstall may be removed: nothing in it is used
    // from here on, so it goes at once, whatever follows.
    const TqString ownBundle = platform.BundlePath();
    const bool runsFromCopy = installedBundleArgument.IsSet() && !(installedBundleArgument == ownBundle);
    if (runsFromCopy)
        (void)platform.RemoveRunningCopy();

    // The tool is handed the installed files, and the name shown is read from the definition it gets.
    const TqString installedFolder =
        PathText::Join(runsFromCopy ? installedBundleArgument : ownBundle, kExecutableFolder);
    RemovalInputs inputs;
    inputs.tool = PathText::Join(installedFolder, kRemovalTool);
    inputs.definition = PathText::Join(installedFolder, kDefinitionFile);
    inputs.targetPathFile = PathText::Join(installedFolder, kTargetPathFile);
    const Status found = platform.FindInstalledFiles(inputs.tool, inputs.definition, inputs.targetPathFile);
    if (!found.IsDone())
    {
        platform.RunAlert(ConfigurationErrorAlert(found.Text()));
        return kUninstallNothingRemoved;
    }
    inputs.product = ReadProductFacts(inputs.definition);
    return RunRemovalTool(platform, inputs);
}

int RunUninstaller(int argc, const char* const* argv, UninstallerPlatform& platform)
{
    if (AsksForUsage(argc, argv))
    {
        const bool written = std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0;
        return written ? kUninstallRemoved : kUninstallNothingRemoved;
    }
    // Running out of memory (a huge definition, say) still ends in a dialog rather than an abort;
    // what the failed step held is released by then.
    try
    {
        if (HasRelaunchMarker(argc, argv))
            return RunSecondPhase(platform, InstalledBundleArgument(argc, argv));
        const TqString definitionPath = platform.PathForAuxiliaryExecutable(kDefinitionFile);
        const TqString targetPathFile = platform.PathForAuxiliaryExecutable(kTargetPathFile);
        // Root reads, copies and runs nothing of an installation that a user controls.
        const Status mayRun = CheckRootMayRun(platform, definitionPath, targetPathFile);
        if (!mayRun.IsDone())
        {
            platform.RunAlert(NothingRemovedAlert("this product", mayRun.Text()));
            return kUninstallNothingRemoved;
        }
        // The first phase shows only the name; the phase that removes counts the entries.
        return RunFirstPhase(platform, definitionPath, targetPathFile, GetProductName(definitionPath));
    }
    catch (const std::bad_alloc&)
    {
        platform.RunAlert(UnexpectedErrorAlert("out of memory"));
    }
    return kUninstallNothingRemoved;
}
