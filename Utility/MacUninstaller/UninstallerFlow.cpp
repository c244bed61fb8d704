#include "UninstallerFlow.h"

#include <cstring>
#include <new>

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
const char kCopiedExecutable[] = "Contents/MacOS/Uninstall";
const char kAdminRight[] = "system.privilege.admin";

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

Alert ConfigurationErrorAlert()
{
    Alert alert;
    alert.messageText = "Configuration Error";
    alert.informativeText = "Configuration file Uninstall.plist not found in application bundle.";
    alert.kind = AlertKind::Error;
    return alert;
}

Alert UnexpectedErrorAlert()
{
    Alert alert;
    alert.messageText = "Unexpected Error";
    alert.informativeText = "An unxpected error has occured. Restart uninstaller.";
    alert.kind = AlertKind::Error;
    return alert;
}

// The product's own dialogs after the confirmation: "Uninstall <product>" over what happened.
Alert ProductAlert(const TqString& productName, const TqString& informativeText, AlertKind kind)
{
    Alert alert;
    alert.messageText = TqString("Uninstall ") + productName;
    alert.informativeText = informativeText;
    alert.kind = kind;
    return alert;
}

Alert CompletionAlert(const TqString& productName)
{
    return ProductAlert(productName, "Uninstallation completed successfully.", AlertKind::Information);
}

Alert FailureAlert(const TqString& productName, const TqString& details)
{
    Alert alert = ProductAlert(productName, "Uninstallation failed. Some components may not have been removed.",
                               AlertKind::Error);
    alert.details = details;
    return alert;
}

Alert NoRightsAlert(const TqString& productName)
{
    return ProductAlert(productName,
                        TqString("Administrator rights are needed to remove ") + productName +
                            ", and they could not be obtained.",
                        AlertKind::Error);
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
        const unsigned long before = tally.EntriesHandled();
        tally.Feed(buffer, static_cast<unsigned long>(got));
        if (tally.EntriesHandled() != before)
            platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath());
    }
    const unsigned long before = tally.EntriesHandled();
    tally.Finish();
    if (tally.EntriesHandled() != before)
        platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath());
}

// The four authorization steps around one run of the tool, its output drained into tally while
// the progress is shown. The authorization is freed on every path.
ToolOutcome RunElevatedTool(UninstallerPlatform& platform, const TqString& toolPath, const TqString& definitionPath,
                            const TqString& targetPathFile, const TqString& productName,
                            unsigned long installEntries, ToolOutputTally& tally)
{
    const bool acquired = platform.CreateAuthorization() && platform.AcquireRight(kAdminRight);
    bool started = acquired;
    if (started)
    {
        Vector<TqString> arguments;
        arguments.push_back("-uninstall");
        arguments.push_back(definitionPath);
        arguments.push_back(targetPathFile);
        arguments.push_back("-v");
        started = platform.ExecuteWithPrivileges(toolPath, arguments);
    }
    ToolOutcome outcome = ToolOutcome::AuthorizationRefused;
    if (!acquired && !platform.AcquisitionWasCancelled())
        outcome = ToolOutcome::RightsNotObtained;
    if (started)
    {
        platform.BeginToolProgress(productName, installEntries);
        DrainToolOutput(platform, tally);
        outcome = platform.WaitForTool();
        platform.EndToolProgress();
    }
    platform.FreeAuthorization();
    return outcome;
}

} // namespace

bool HasRelaunchMarker(int argc, const char* const* argv)
{
    for (int index = 1; index < argc; ++index)
    {
        if (argv[index] != nullptr && std::strcmp(argv[index], kRelaunchMarker) == 0)
            return true;
    }
    return false;
}

ProductFacts ReadProductFacts(const TqString& definitionPath)
{
    ProductFacts facts;
    facts.name = "this product";
    TqString path(definitionPath.ConstData(), TqString::maxLen);
    if (path.IsSet())
    {
        SKUDefinition definition;
        definition.fromFile(path);
        const TqString& name = definition.skuInfo.name;
        // A name that is not valid UTF-8 cannot become a platform string; keep the default then.
        CFStringRef platformName = name.IsSet() ? name.CreateCFString() : nullptr;
        if (platformName != nullptr)
        {
            facts.name = name;
            CFRelease(platformName);
        }
        facts.installEntries = CountInstallEntries(definition.installRoot);
    }
    return facts;
}

TqString GetProductName(const TqString& definitionPath)
{
    return ReadProductFacts(definitionPath).name;
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

TqString CreateTemporaryDirectory(UninstallerPlatform& platform)
{
    // No safe temporary folder, or no unique name: never fall back to a path of its own making.
    TqString folder = platform.TemporaryDirectory();
    TqString unique = platform.GloballyUniqueString();
    if (folder.IsEmpty() || unique.IsEmpty())
        return TqString();
    TqString path = PathText::Join(folder, unique);
    if (!platform.CreateDirectory(path))
        return TqString();
    return path;
}

void RunFirstPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                   const TqString& targetPathFile, const TqString& productName)
{
    if (definitionPath.IsEmpty() || targetPathFile.IsEmpty())
    {
        platform.RunAlert(ConfigurationErrorAlert());
        return;
    }
    if (platform.RunAlert(ConfirmationAlert(productName)) != AlertAlternateReturn)
        return;

    TqString temporaryDirectory = CreateTemporaryDirectory(platform);
    if (temporaryDirectory.IsEmpty())
    {
        platform.RunAlert(UnexpectedErrorAlert());
        return;
    }
    // The user has confirmed: a copy or start that fails must not end the run silently.
    TqString bundlePath = platform.BundlePath();
    TqString copiedBundle = PathText::Join(temporaryDirectory, kCopiedBundle);
    // The copy learns where it came from, so that it can elevate the installed tool instead of its own.
    Vector<TqString> arguments;
    arguments.push_back(kRelaunchMarker);
    arguments.push_back(bundlePath);
    if (!platform.CopyItem(bundlePath, copiedBundle) ||
        !platform.LaunchTask(PathText::Join(copiedBundle, kCopiedExecutable), arguments))
    {
        // What is left would only fill the temporary folder further with every retry.
        // Whatever could not be removed is left to the system's cleaning; the dialog comes all the same.
        (void)platform.RemoveItem(temporaryDirectory);
        platform.RunAlert(UnexpectedErrorAlert());
    }
}

void RunSecondPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                    const TqString& targetPathFile, const TqString& productName,
                    const TqString& installedBundlePath, unsigned long installEntries)
{
    platform.ActivateIgnoringOtherApps();

    // A copy without its data files or tool has nothing to run; say so before asking for a password.
    TqString toolPath = platform.PathForAuxiliaryExecutable(kRemovalTool);
    if (definitionPath.IsEmpty() || targetPathFile.IsEmpty() || toolPath.IsEmpty())
    {
        platform.RunAlert(ConfigurationErrorAlert());
        return;
    }
    TqString elevatedDefinition = definitionPath;
    TqString elevatedTargetFile = targetPathFile;
    if (!platform.ChooseFilesToElevate(installedBundlePath, toolPath, elevatedDefinition, elevatedTargetFile))
    {
        platform.RunAlert(UnexpectedErrorAlert());
        return;
    }

    ToolOutputTally tally;
    const ToolOutcome outcome = RunElevatedTool(platform, toolPath, elevatedDefinition, elevatedTargetFile,
                                                productName, installEntries, tally);
    if (outcome == ToolOutcome::Succeeded)
        platform.RunAlert(CompletionAlert(productName));
    else if (outcome == ToolOutcome::Failed)
        platform.RunAlert(FailureAlert(productName, tally.FailureDetails()));
    else if (outcome == ToolOutcome::RightsNotObtained)
        platform.RunAlert(NoRightsAlert(productName));
}

int RunUninstaller(int argc, const char* const* argv, UninstallerPlatform& platform)
{
    // Running out of memory (a huge definition, say) still ends in a dialog rather than an abort;
    // what the failed step held is released by then.
    try
    {
        const bool relaunched = HasRelaunchMarker(argc, argv);
        TqString definitionPath = platform.PathForAuxiliaryExecutable(kDefinitionFile);
        TqString targetPathFile = platform.PathForAuxiliaryExecutable(kTargetPathFile);
        // The definition is read once: the name for every dialog, the entry count for the progress.
        ProductFacts product = ReadProductFacts(definitionPath);
        if (relaunched)
            RunSecondPhase(platform, definitionPath, targetPathFile, product.name,
                           InstalledBundleArgument(argc, argv), product.installEntries);
        else
            RunFirstPhase(platform, definitionPath, targetPathFile, product.name);
    }
    catch (const std::bad_alloc&)
    {
        platform.RunAlert(UnexpectedErrorAlert());
    }
    return 0;
}
