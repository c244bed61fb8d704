#include "UninstallerFlow.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "JsonResult.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "PlatformNames.h"
#include "RemovalLine.h"
#include "SKUDefinition.h"
#include "ToolOutputTally.h"
#include "UninstallerAlerts.h"
#include "XMLReading.h"

namespace
{

const char kRelaunchMarker[] = "1";
const char kDefinitionFile[] = "sku.xml";
const char kTargetPathFile[] = "target_path.xml";
const char kRemovalTool[] = "InstallUtility";
const char kUninstaller[] = "Uninstall";

const char kDryRunOption[] = "-n";
const char kJsonOption[] = "--json";
// Hands the confirmed definition's digest to the copy; the copy hands it to the tool.
const char kDigestOption[] = "--definition-sha256";
const char kToolDigestOption[] = "-sha256";

// With --json, the result for fleet tools that this run writes on standard output; null without.
JsonResult* jsonResult = nullptr;
const char kVersion[] = UNINSTALL_VERSION;

const char kUsage[] =
    "Usage: Uninstall [-n | --dry-run] [--json]\n"
    "       Uninstall -h | --help | --version\n"
    "\n"
    "Removes the product this Uninstall.app belongs to, after asking for confirmation. It copies\n"
    "itself into a new private folder under the first usable of $TMPDIR, /tmp and /var/tmp, starts\n"
    "the copy with the argument 1 and the installed bundle's path, and runs the installed\n"
    "InstallUtility: as you when the installation is yours, through pkexec or sudo when it is root's.\n"
    "\n"
    "Dialogs are GTK windows when there is a display, questions at the terminal when there is one,\n"
    "and otherwise written to standard error and answered with their default button (Cancel).\n"
    "\n"
    "Options:\n"
    "  -n, --dry-run  remove nothing: show, through the same dialogs, what the removal would remove\n"
    "                 and what would fail, and exit with the status the removal would end with\n"
    "  --json         write on standard output one JSON object per entry the removal handles,\n"
    "                 then one closing object with the outcome and the exit status\n"
    "  -h, --help     print this text\n"
    "  --version      print the version\n"
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
    "  4  cancelled: nothing removed, or some of it (run the uninstaller again to finish)\n"
    "  5  the product was not found in the folder it was installed into, nothing removed\n";

// The folder the target-path file names, as the tool reads it; "its folder" when it cannot be read.
TqString TargetFolder(const TqString& targetPathFile)
{
    TqString target;
    if (!XMLReading::ReadTargetFile(targetPathFile, target))
        return "its folder";
    return EscapeLineText(PathText::Normalized(target));
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
        if (jsonResult != nullptr)
            jsonResult->Feed(buffer, static_cast<unsigned long>(got));
        if (tally.Changes() == before)
            continue;
        // Before the first entry the tool's waiting line stands in for the path (and is said at
        // once where no progress is shown); any other message, an elevation program's above all,
        // is never drawn into the progress line, and shows with the dialog that ends the run.
        const bool waiting = tally.EntriesHandled() == 0 && IsWaitingLine(tally.CurrentPath());
        if (waiting)
            platform.ShowToolWaiting(tally.CurrentPath());
        if (waiting || tally.EntriesHandled() != 0)
            platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath(), tally.Activity());
    }
    const unsigned long before = tally.Changes();
    tally.Finish();
    if (jsonResult != nullptr)
        jsonResult->Finish();
    if (tally.Changes() != before)
        platform.ShowToolProgress(tally.EntriesHandled(), tally.CurrentPath(), tally.Activity());
}

// read() on a thread of its own, or here when first asked for if no thread can be started. What
// it reads is only shown, and asked for after the tool may have removed much: running out of
// memory then leaves the name "this product", not a run reported as failed.
std::shared_future<ProductFacts> ReadProductInBackground(const std::function<ProductFacts()>& read)
{
    const auto readOrName = [read]
    {
        try
        {
            return read();
        }
        catch (const std::bad_alloc&)
        {
            ProductFacts unread;
            unread.name = "this product";
            return unread;
        }
    };
    try
    {
        return std::async(std::launch::async, readOrName).share();
    }
    catch (const std::system_error&)
    {
        return std::async(std::launch::deferred, readOrName).share();
    }
}

// The installed bundle's three files, and what the definition says of the product: read while the
// tool starts and reads the same definition, since only what is shown needs it.
struct RemovalInputs
{
    InstalledFiles files;
    std::shared_future<ProductFacts> product;
    bool dryRun = false;
    std::string confirmedDigest;
};

// The tool's command line: every entry said on its own line, the confirmed definition only.
Vector<TqString> ToolArguments(const RemovalInputs& inputs)
{
    Vector<TqString> arguments;
    arguments.push_back("-uninstall");
    arguments.push_back(inputs.files.definition);
    arguments.push_back(inputs.files.targetPathFile);
    arguments.push_back("-v");
    if (inputs.dryRun)
        arguments.push_back(kDryRunOption);
    if (!inputs.confirmedDigest.empty())
    {
        arguments.push_back(kToolDigestOption);
        arguments.push_back(inputs.confirmedDigest.c_str());
    }
    return arguments;
}

// The first two authorization steps. When the rights could not be had: frees the authorization,
// says so and gives the exit status; nothing when the tool may start.
std::optional<int> EndedWithoutRights(UninstallerPlatform& platform, const std::shared_future<ProductFacts>& product)
{
    Status rights = platform.CreateAuthorization();
    if (rights.IsDone())
        rights = platform.AcquireRight(PlatformNames::kAdminRight);
    if (rights.IsDone())
        return std::nullopt;
    platform.FreeAuthorization();
    // The prompt was interrupted: the tool never started, so nothing was removed.
    if (rights.IsCancelled())
    {
        platform.RunAlert(CancelledAlert(product.get().name));
        return kUninstallCancelled;
    }
    platform.RunAlert(NoRightsAlert(product.get().name, rights.Message()));
    return kUninstallNoRights;
}

// Follows the started tool to its end, its output drained into tally while the progress shows;
// when the platform started it anew, only the new run's output counts.
ToolEnding FollowTool(UninstallerPlatform& platform, const RemovalInputs& inputs, const TqString& target,
                      ToolOutputTally& tally)
{
    tally.SetTarget(target);
    platform.BeginToolProgress(inputs.product.get().name, inputs.product.get().installEntries);
    ToolEnding ending;
    for (;;)
    {
        DrainToolOutput(platform, tally);
        ending = platform.WaitForTool();
        if (ending.outcome != ToolOutcome::Restarted)
            break;
        // What the first elevation program said is not the tool's report.
        tally = ToolOutputTally();
        tally.SetTarget(target);
    }
    platform.EndToolProgress();
    return ending;
}

// The dialog that reports how the tool ended; returns the exit status.
int ReportToolEnding(UninstallerPlatform& platform, const RemovalInputs& inputs, const ToolEnding& ending,
                     const ToolOutputTally& tally, const TqString& target)
{
    const TqString& name = inputs.product.get().name;
    if (inputs.dryRun && (ending.outcome == ToolOutcome::Succeeded || ending.outcome == ToolOutcome::Failed))
    {
        const bool wouldFail = ending.outcome == ToolOutcome::Failed;
        platform.RunAlert(DryRunAlert(name, wouldFail, tally.DryRunDetails()));
        return wouldFail ? kUninstallFailed : kUninstallRemoved;
    }
    switch (ending.outcome)
    {
    case ToolOutcome::Succeeded:
        platform.RunAlert(CompletionAlert(name, tally.KeptDetails()));
        return kUninstallRemoved;
    case ToolOutcome::NothingRemoved:
        platform.RunAlert(NothingRemovedAlert(name, tally.FailureDetails()));
        return kUninstallNothingRemoved;
    case ToolOutcome::NotFound:
        platform.RunAlert(NotFoundAlert(name, target, tally.MessageDetails()));
        return kUninstallNotFound;
    case ToolOutcome::Cancelled:
        platform.RunAlert(CancelledAlert(name, tally.EntriesRemoved(), tally.KeptDetails()));
        return kUninstallCancelled;
    case ToolOutcome::AuthorizationRefused:
        return kUninstallCancelled;
    case ToolOutcome::RightsNotObtained:
        // Every line the elevation program wrote, not only its last ("This incident has been reported.").
        platform.RunAlert(ending.rightsReason.IsSet()
                              ? NoRightsAlert(name, ending.rightsReason)
                              : NoRightsAlert(name, TqString(), ending.rightsAdvice, tally.MessageDetails()));
        return kUninstallNoRights;
    case ToolOutcome::Failed:
    case ToolOutcome::Restarted:
        break;
    }
    platform.RunAlert(FailureAlert(name, tally));
    return kUninstallFailed;
}

// The four authorization steps around one run of the tool, then the dialog that reports it. The
// authorization is freed on every path, before anything is shown. Returns the exit status.
int RunRemovalTool(UninstallerPlatform& platform, const RemovalInputs& inputs)
{
    if (const std::optional<int> status = EndedWithoutRights(platform, inputs.product))
        return *status;
    const Status started = platform.ExecuteWithPrivileges(inputs.files.tool, ToolArguments(inputs));
    if (!started.IsDone())
    {
        platform.FreeAuthorization();
        platform.RunAlert(UnexpectedErrorAlert(started.Because("could not start the removal tool").Text()));
        return kUninstallNothingRemoved;
    }
    ToolOutputTally tally;
    const TqString target = TargetFolder(inputs.files.targetPathFile);
    const ToolEnding ending = FollowTool(platform, inputs, target, tally);
    platform.FreeAuthorization();
    return ReportToolEnding(platform, inputs, ending, tally, target);
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

const char* const kKnownOptions[] = {"-h",         "--help",    "--version",   kDryRunOption,
                                     "--dry-run", kJsonOption, kDigestOption};

// The argument after option, when it is there; empty otherwise.
std::string OptionValue(int argc, const char* const* argv, const char* option)
{
    for (int index = 1; index + 1 < argc; ++index)
    {
        if (argv[index] != nullptr && std::strcmp(argv[index], option) == 0 && argv[index + 1] != nullptr)
            return argv[index + 1];
    }
    return std::string();
}

bool LooksLikeAnOption(const char* argument)
{
    if (argument == nullptr || argument[0] != '-')
        return false;
    const char second = argument[1];
    return second == '-' || (second >= 'a' && second <= 'z') || (second >= 'A' && second <= 'Z');
}

} // namespace

const char* UsageText()
{
    return kUsage;
}

bool HasOption(int argc, const char* const* argv, const char* option, const char* otherSpelling)
{
    for (int index = 1; index < argc; ++index)
    {
        const char* argument = argv[index];
        if (argument != nullptr && (std::strcmp(argument, option) == 0 ||
                                    (otherSpelling != nullptr && std::strcmp(argument, otherSpelling) == 0)))
            return true;
    }
    return false;
}

const char* UnknownOption(int argc, const char* const* argv)
{
    for (int index = 1; index < argc; ++index)
    {
        if (!LooksLikeAnOption(argv[index]))
            continue;
        bool known = false;
        for (const char* option : kKnownOptions)
            known = known || std::strcmp(argv[index], option) == 0;
        if (!known)
            return argv[index];
    }
    return nullptr;
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
        facts.id = definition.skuInfo.id;
        facts.build = definition.skuInfo.build;
        facts.installEntries = CountInstallEntries(definition.installRoot);
    }
    return facts;
}

ProductFacts ReadProductIdentity(const TqString& definitionPath, bool withDigest)
{
    ProductFacts facts;
    facts.name = "this product";
    TqString path(definitionPath.ConstData(), TqString::maxLen);
    if (!path.IsSet())
        return facts;
    SKUDefinition definition;
    definition.identityFromFile(path, withDigest ? &facts.digest : nullptr);
    facts.name = shownProductName(definition.skuInfo.name);
    facts.id = definition.skuInfo.id;
    facts.build = definition.skuInfo.build;
    return facts;
}

TqString GetProductName(const TqString& definitionPath)
{
    return ReadProductIdentity(definitionPath).name;
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

Result<PrivateFolder> CreateTemporaryDirectory(UninstallerPlatform& platform)
{
    // No usable temporary folder, or no unique name: never fall back to a path of its own making.
    const Result<TqString> found = platform.TemporaryDirectory();
    if (!found.IsDone())
        return found.GetStatus();
    const TqString& folder = found.Value();
    const TqString unique = platform.GloballyUniqueString();
    if (folder.IsEmpty() || unique.IsEmpty())
        return Status::Failed(0, "could not make a name for a private folder");
    const TqString candidate = PathText::Join(folder, unique);
    const Status created = platform.CreateDirectory(candidate);
    if (!created.IsDone())
        return created.Because(TqString("could not create a private folder in ") + folder);
    return PrivateFolder{folder, candidate};
}

namespace
{

// The data files missing from the running bundle, one line each: the configuration error's own
// text names a file of another system.
TqString MissingDataFiles(UninstallerPlatform& platform, const TqString& definitionPath,
                          const TqString& targetPathFile)
{
    const TqString folder = PathText::Join(platform.BundlePath(), PlatformNames::kExecutableFolder);
    TqString missing;
    for (const char* name : {kDefinitionFile, kTargetPathFile})
        if ((name == kDefinitionFile ? definitionPath : targetPathFile).IsEmpty())
            missing += TqString(missing.IsSet() ? "\n" : "") + EscapeLineText(PathText::Join(folder, name)) +
                       ": not found";
    return missing;
}

// What the copy is started with: the relaunch marker and where it came from (it runs the
// installed tool and reads the installed files), then the options it hands on.
Vector<TqString> RelaunchArguments(const TqString& bundlePath, bool dryRun, const std::string& definitionDigest)
{
    Vector<TqString> arguments;
    arguments.push_back(kRelaunchMarker);
    arguments.push_back(bundlePath);
    if (dryRun)
        arguments.push_back(kDryRunOption);
    if (jsonResult != nullptr)
        arguments.push_back(kJsonOption);
    if (!definitionDigest.empty())
    {
        arguments.push_back(kDigestOption);
        arguments.push_back(definitionDigest.c_str());
    }
    return arguments;
}

// Copies the running bundle into temporaryDirectory (made in folder) and starts the copy.
Status CopyAndRelaunch(UninstallerPlatform& platform, const TqString& folder, const TqString& temporaryDirectory,
                       bool dryRun, const std::string& definitionDigest)
{
    const TqString bundlePath = platform.BundlePath();
    const TqString copiedBundle = PathText::Join(temporaryDirectory, PlatformNames::kBundleFolder);
    const Status copied = platform.CopyItem(bundlePath, copiedBundle);
    if (!copied.IsDone())
        return copied.Because(TqString("could not copy the uninstaller to ") + folder);
    const Status started = platform.LaunchTask(
        PathText::Join(PathText::Join(copiedBundle, PlatformNames::kExecutableFolder), kUninstaller),
        RelaunchArguments(bundlePath, dryRun, definitionDigest));
    if (!started.IsDone())
        return started.Because("could not start the uninstaller's copy");
    return Status::Done();
}

} // namespace

int RunFirstPhase(UninstallerPlatform& platform, const TqString& definitionPath,
                  const TqString& targetPathFile, const TqString& productName, bool dryRun,
                  const std::string& definitionDigest)
{
    // Up to the relaunch an interruption is a stop: nothing is removed yet, and the run folder
    // must not outlive the run. Folders of earlier runs that could not remove theirs go too.
    platform.CatchStopRequests();
    platform.RemoveAbandonedRunFolders();
    if (definitionPath.IsEmpty() || targetPathFile.IsEmpty())
    {
        platform.RunAlert(ConfigurationErrorAlert(MissingDataFiles(platform, definitionPath, targetPathFile)));
        return kUninstallNothingRemoved;
    }
    auto stopped = [&]
    {
        platform.RunAlert(CancelledAlert(productName));
        return kUninstallCancelled;
    };
    const bool confirmed = platform.RunAlert(ConfirmationAlert(productName, dryRun)) == AlertAlternateReturn;
    if (platform.StopWasRequested())
        return stopped();
    if (!confirmed)
        return kUninstallCancelled;

    // The user has confirmed: a copy or start that fails must not end the run silently.
    const Result<PrivateFolder> created = CreateTemporaryDirectory(platform);
    Status step = created.GetStatus();
    if (created.IsDone())
    {
        const PrivateFolder& run = created.Value();
        step = CopyAndRelaunch(platform, run.parent, run.path, dryRun, definitionDigest);
        if (step.IsDone())
            return kUninstallRemoved;
        // What is left would only fill the temporary folder further with every retry.
        // Whatever could not be removed is left to the system's cleaning; the dialog comes all the same.
        (void)platform.RemoveItem(run.path);
    }
    if (platform.StopWasRequested())
        return stopped();
    platform.RunAlert(UnexpectedErrorAlert(step.Text()));
    return kUninstallNothingRemoved;
}

int RunSecondPhase(UninstallerPlatform& platform, const TqString& installedBundleArgument, bool dryRun,
                   const std::string& definitionDigest)
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
        PathText::Join(runsFromCopy ? installedBundleArgument : ownBundle, PlatformNames::kExecutableFolder);
    const Result<InstalledFiles> found = platform.FindInstalledFiles(InstalledFiles{
        PathText::Join(installedFolder, kRemovalTool), PathText::Join(installedFolder, kDefinitionFile),
        PathText::Join(installedFolder, kTargetPathFile)});
    if (!found.IsDone())
    {
        platform.RunAlert(ConfigurationErrorAlert(found.GetStatus().Text()));
        return kUninstallNothingRemoved;
    }
    RemovalInputs inputs;
    inputs.files = found.Value();
    // The digest that counts is the confirmed one the first phase handed on.
    const TqString definition = inputs.files.definition;
    inputs.product = platform.ShowsToolProgress()
                         ? ReadProductInBackground([definition] { return ReadProductFacts(definition); })
                         : ReadProductInBackground([definition] { return ReadProductIdentity(definition, false); });
    inputs.dryRun = dryRun;
    inputs.confirmedDigest = definitionDigest;
    if (jsonResult != nullptr)
    {
        TqString target;
        if (XMLReading::ReadTargetFile(inputs.files.targetPathFile, target))
            jsonResult->SetTarget(PathText::Normalized(target));
    }
    const int status = RunRemovalTool(platform, inputs);
    if (jsonResult != nullptr)
        jsonResult->SetProduct(inputs.product.get().name, inputs.product.get().id, inputs.product.get().build);
    return status;
}

namespace
{

// The phase the arguments ask for; copyStarted says whether the first phase handed the run on to
// a copy that goes on by itself.
int RunPhase(int argc, const char* const* argv, UninstallerPlatform& platform, bool dryRun, bool& copyStarted)
{
    // Running out of memory (a huge definition, say) still ends in a dialog rather than an abort;
    // what the failed step held is released by then.
    try
    {
        if (HasRelaunchMarker(argc, argv))
            return RunSecondPhase(platform, InstalledBundleArgument(argc, argv), dryRun,
                                  OptionValue(argc, argv, kDigestOption));
        const TqString definitionPath = platform.PathForAuxiliaryExecutable(kDefinitionFile);
        const TqString targetPathFile = platform.PathForAuxiliaryExecutable(kTargetPathFile);
        // Root reads, copies and runs nothing of an installation that a user controls.
        const Status mayRun = CheckRootMayRun(platform, definitionPath, targetPathFile);
        if (!mayRun.IsDone())
        {
            platform.RecordRefusal(mayRun.Message());
            platform.RunAlert(NothingRemovedAlert("this product", mayRun.Message()));
            return kUninstallNothingRemoved;
        }
        // The first phase shows only the name; the phase that removes counts the entries.
        const ProductFacts product = ReadProductIdentity(definitionPath);
        if (jsonResult != nullptr)
            jsonResult->SetProduct(product.name, product.id, product.build);
        const int status =
            RunFirstPhase(platform, definitionPath, targetPathFile, product.name, dryRun, product.digest);
        // Once the copy runs on its own (windows), the result is the copy's to write.
        copyStarted = status == kUninstallRemoved;
        return status;
    }
    catch (const std::bad_alloc&)
    {
        platform.RunAlert(UnexpectedErrorAlert("out of memory"));
    }
    return kUninstallNothingRemoved;
}

// While it lives, the run's JSON result is the one the flow writes to.
class JsonResultInUse
{
public:
    explicit JsonResultInUse(JsonResult* result) { jsonResult = result; }
    ~JsonResultInUse() { jsonResult = nullptr; }
    JsonResultInUse(const JsonResultInUse&) = delete;
    JsonResultInUse& operator=(const JsonResultInUse&) = delete;
};

} // namespace

int RunUninstaller(int argc, const char* const* argv, UninstallerPlatform& platform)
{
    // A mistyped option must not be taken for a request to uninstall.
    if (const char* unknown = UnknownOption(argc, argv))
    {
        platform.RecordRefusal(TqString("unknown option ") + TqString(unknown));
        (void)std::fprintf(stderr, "Uninstall: unknown option %s\n\n%s",
                           EscapeLineText(TqString(unknown)).ConstData(), kUsage);
        return kUninstallNothingRemoved;
    }
    const bool usage = HasOption(argc, argv, "-h", "--help");
    if (usage || HasOption(argc, argv, "--version", nullptr))
    {
        const bool written =
            (usage ? std::fputs(kUsage, stdout) : std::printf("Uninstall %s\n", kVersion)) >= 0 &&
            std::fflush(stdout) == 0;
        return written ? kUninstallRemoved : kUninstallNothingRemoved;
    }
    const bool dryRun = HasOption(argc, argv, kDryRunOption, "--dry-run");
    JsonResult json(stdout);
    json.SetDryRun(dryRun);
    const bool wantsJson = HasOption(argc, argv, kJsonOption, nullptr);
    const JsonResultInUse inUse(wantsJson ? &json : nullptr);
    bool copyStarted = false;
    const int status = RunPhase(argc, argv, platform, dryRun, copyStarted);
    if (wantsJson && !copyStarted)
        json.Close(status);
    return status;
}
