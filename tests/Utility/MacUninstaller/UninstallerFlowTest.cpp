#include <chrono>
#include <fcntl.h>
#include <future>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "FakeUninstallerPlatform.h"
#include "RunProgram.h"
#include "TemporaryFolder.h"
#include "Sha256.h"
#include "UninstallerFlow.h"

namespace
{

const char kCopy[] = "/tmp/fake/UNIQUE-42/Uninstall.app";

class UninstallerFlowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        folder = temporary.path();
        bundle = folder + "/Installed/Uninstall.app";
        definition = WriteFile("Installed/Uninstall.app/Contents/MacOS/sku.xml",
                               "<product><sku ID=\"7\" name=\"Demo Product\"/></product>");
        targetFile = WriteFile("Installed/Uninstall.app/Contents/MacOS/target_path.xml",
                               "<targetPath path=\"/opt/demo\"/>");
        tool = bundle + "/Contents/MacOS/InstallUtility";
        platform.bundlePath = bundle;
        platform.auxiliaryFiles = {
            {"sku.xml", definition}, {"target_path.xml", targetFile}, {"InstallUtility", tool}};
    }
    // A platform for a second phase run from the copy of the installed bundle.
    FakeUninstallerPlatform SecondPhase() const
    {
        FakeUninstallerPlatform second;
        second.bundlePath = kCopy;
        return second;
    }
    int RunSecond(FakeUninstallerPlatform& second) { return Run({"1", bundle.c_str()}, second); }

    // The SHA-256 of the installed definition as written.
    std::string DefinitionDigest() const
    {
        const std::string text = TemporaryFolder::ReadFile(definition);
        return Sha256::Of(text.data(), text.size());
    }
    std::string WriteFile(const std::string& name, const std::string& content)
    {
        return TemporaryFolder::WriteFile(folder + "/" + name, content);
    }

    // Runs the flow with these arguments after the program's name, on platform unless given.
    int Run(std::vector<const char*> arguments) { return Run(arguments, platform); }
    static int Run(std::vector<const char*> arguments, FakeUninstallerPlatform& on)
    {
        arguments.insert(arguments.begin(), "Uninstall");
        return RunUninstaller(static_cast<int>(arguments.size()), arguments.data(), on);
    }

    TemporaryFolder temporary{"flowtest"};
    std::string folder;
    std::string bundle;
    std::string definition;
    std::string targetFile;
    std::string tool;
    FakeUninstallerPlatform platform;
};

} // namespace

TEST(UninstallerFlow, RelaunchMarkerIsOnlyTheWholeTextOneAndTheInstalledBundleFollowsIt)
{
    auto with = [](std::vector<const char*> arguments)
    {
        arguments.insert(arguments.begin(), "Uninstall");
        return arguments;
    };
    for (auto arguments : {with({"1"}), with({"-psn_0_1234", "1"}), with({"x", "y", "1", "z"})})
        EXPECT_TRUE(HasRelaunchMarker(int(arguments.size()), arguments.data())) << arguments.size();
    for (auto arguments : {with({}), with({"01"}), with({"11"}), with({"-1"}), with({"1 "}), with({" 1"}),
                           with({""}), std::vector<const char*>{"1"}})
        EXPECT_FALSE(HasRelaunchMarker(int(arguments.size()), arguments.data())) << arguments.back();

    auto installed = [&](std::vector<const char*> arguments)
    {
        arguments = with(arguments);
        return std::string(InstalledBundleArgument(int(arguments.size()), arguments.data()).ConstData());
    };
    EXPECT_EQ(installed({"1", "/opt/Demo/Uninstall.app"}), "/opt/Demo/Uninstall.app");
    EXPECT_EQ(installed({"-psn_0_1", "1", "/a.app", "/b.app"}), "/a.app");
    for (std::vector<const char*> arguments :
         {std::vector<const char*>{"1"}, {"1", "relative.app"}, {"/a.app", "1"}, {"/a.app"}})
        EXPECT_EQ(installed(arguments), "") << arguments.back();
}

TEST_F(UninstallerFlowTest, ProductNameComesFromTheDefinitionOrDefaults)
{
    EXPECT_STREQ(GetProductName(definition.c_str()).ConstData(), "Demo Product");
    EXPECT_STREQ(GetProductName(TqString()).ConstData(), "this product");
    EXPECT_STREQ(GetProductName((folder + "/missing.xml").c_str()).ConstData(), "this product");
    // Bytes that are not UTF-8 cannot be shown as a name.
    const std::pair<const char*, const char*> cases[] = {
        {"<product><sku name=", "this product"},
        {"<product><sku name=\"\"/></product>", "this product"},
        {"<product><sku ID=\"3\"/></product>", "this product"},
        {"<product><sku name=\"100% %@ %s Pro\"/></product>", "100% %@ %s Pro"},
        {"<product><sku name=\"Caf\xE9\"/></product>", "this product"},
    };
    for (const auto& [content, name] : cases)
        EXPECT_STREQ(GetProductName(WriteFile("name.xml", content).c_str()).ConstData(), name) << content;
}

TEST_F(UninstallerFlowTest, AFifoInPlaceOfTheDefinitionGivesTheDefaultNameAtOnce)
{
    const std::string fifo = folder + "/sku.xml.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto name =
        std::async(std::launch::async, [&] { return std::string(GetProductName(fifo.c_str()).ConstData()); });
    if (name.wait_for(std::chrono::seconds(10)) == std::future_status::timeout)
    {
        // Give the blocked reader a writer, so that the test ends after failing.
        close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        ADD_FAILURE() << "reading the product name waited for a writer on the FIFO";
    }
    EXPECT_EQ(name.get(), "this product");
}

TEST_F(UninstallerFlowTest, HelpPrintsTheUsageAndTouchesNothing)
{
    for (std::vector<const char*> arguments :
         {std::vector<const char*>{"--help"}, {"-h"}, {"1", "/x.app", "-h"}})
    {
        FakeUninstallerPlatform untouched = platform;
        untouched.alertAnswers = {AlertAlternateReturn};
        testing::internal::CaptureStdout();
        EXPECT_EQ(Run(arguments, untouched), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), UsageText());
        EXPECT_TRUE(untouched.calls.empty()) << arguments.back();
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Uninstall ") + UNINSTALL_VERSION + "\n");
    EXPECT_TRUE(platform.calls.empty());
    const std::string usage = UsageText();
    for (const char* part : {"UNINSTALL_UNATTENDED=1", "0  removed", "3  administrator rights not obtained",
                             "4  cancelled: nothing removed, or some of it", "5  the product was not found"})
        EXPECT_NE(usage.find(part), std::string::npos) << part;
}

TEST_F(UninstallerFlowTest, MissingDataFileShowsConfigurationErrorOnly)
{
    for (const char* missing : {"sku.xml", "target_path.xml"})
    {
        FakeUninstallerPlatform partial = platform;
        partial.auxiliaryFiles.erase(missing);
        partial.alertAnswers = {AlertAlternateReturn, AlertAlternateReturn};
        EXPECT_EQ(Run({}, partial), 2);
        ASSERT_EQ(partial.alerts.size(), 1u) << missing;
        EXPECT_STREQ(partial.alerts[0].messageText.ConstData(), "Configuration Error");
        EXPECT_STREQ(partial.alerts[0].informativeText.ConstData(),
                     "Configuration file Uninstall.plist not found in application bundle.");
        EXPECT_TRUE(partial.alerts[0].defaultButton.IsEmpty());
        EXPECT_TRUE(partial.alerts[0].alternateButton.IsEmpty());
        EXPECT_EQ(partial.alerts[0].kind, AlertKind::Error);
        EXPECT_EQ(std::string(partial.alerts[0].details.ConstData()),
                  bundle + "/Contents/MacOS/" + missing + ": not found");
        EXPECT_EQ(partial.Count("CreateDirectory"), 0u) << missing;
    }
}

// The name is shown as it is, never as a format; only the alternate button goes on. An argument
// that is not the marker runs the first phase.
TEST_F(UninstallerFlowTest, ConfirmationShowsTheNameLiterallyAndOnlyUninstallGoesOn)
{
    platform.auxiliaryFiles["sku.xml"] =
        WriteFile("percent.xml", "<product><sku name=\"50% %d %@ Suite\"/></product>");
    for (int answer : {int(AlertDefaultReturn), int(AlertOtherReturn), 5})
    {
        FakeUninstallerPlatform cancelled = platform;
        cancelled.alertAnswers = {answer};
        EXPECT_EQ(Run({"01"}, cancelled), 4);
        ASSERT_EQ(cancelled.alerts.size(), 1u) << answer;
        EXPECT_EQ(cancelled.Count("CreateDirectory"), 0u) << answer;
        const Alert& alert = cancelled.alerts[0];
        EXPECT_STREQ(alert.messageText.ConstData(), "Uninstall 50% %d %@ Suite");
        EXPECT_STREQ(alert.informativeText.ConstData(),
                     "Do you wish to remove 50% %d %@ Suite and all related components?");
        EXPECT_STREQ(alert.defaultButton.ConstData(), "Cancel");
        EXPECT_STREQ(alert.alternateButton.ConstData(), "Uninstall");
        EXPECT_TRUE(alert.otherButton.IsEmpty());
        EXPECT_EQ(alert.kind, AlertKind::Question);
    }
}

// What looks like an option a person typed is refused unless it is one of ours, before anything is
// shown or made; other arguments go on to the first phase (below).
TEST_F(UninstallerFlowTest, UnknownOptionsAndRootOnAUsersInstallationAreRefused)
{
    for (const char* option : {"-x", "-N", "--", "--dry", "--verbose=1", "-nv"})
    {
        FakeUninstallerPlatform untouched = platform;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Run({"-n", option}, untouched), 2) << option;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("Uninstall: unknown option ") + option + "\n\n" + UsageText());
        EXPECT_TRUE(untouched.calls.empty()) << option;
        EXPECT_EQ(untouched.refusals, std::vector<std::string>{std::string("unknown option ") + option});
    }
    // Root on an installation a user controls: refused before anything is read, copied or run,
    // and recorded like every refusal.
    FakeUninstallerPlatform asRoot = platform;
    asRoot.rootCheckResult = Status::Failed(0, "refusing to run as root: this installation is controlled by uid 7");
    EXPECT_EQ(Run({}, asRoot), 2);
    EXPECT_EQ(asRoot.refusals, std::vector<std::string>{"refusing to run as root: this installation is controlled by uid 7"});
    ASSERT_EQ(asRoot.alerts.size(), 1u);
    EXPECT_STREQ(asRoot.alerts[0].informativeText.ConstData(), "Uninstallation failed. Nothing was removed.");
    EXPECT_EQ(asRoot.Count("CreateDirectory") + asRoot.Count("Execute"), 0u);
}

// Confirmed, the first phase copies the bundle into a new private folder and starts the copy with
// where it came from, the options it hands on and the digest of the definition confirmed.
TEST_F(UninstallerFlowTest, ConfirmedFirstPhaseCopiesAndRelaunches)
{
    // The copy learns the digest of the definition that was confirmed.
    const std::string digest = " --definition-sha256 " + DefinitionDigest();
    const std::string launch = std::string("LaunchTask ") + kCopy + "/Contents/MacOS/Uninstall 1 " + bundle;
    const struct
    {
        std::vector<const char*> arguments;
        bool dryRun;
    } rows[] = {{{}, false},    {{"-1"}, false}, {{"01", "11"}, false}, {{"1 "}, false},
                {{"-"}, false}, {{"-n"}, true},  {{"--dry-run"}, true}};
    for (const auto& row : rows)
    {
        const std::string launched = launch + (row.dryRun ? " -n" : "") + digest;
        FakeUninstallerPlatform first = platform;
        first.temporaryDirectory = "/tmp/fake/";
        first.alertAnswers = {AlertAlternateReturn};
        EXPECT_EQ(Run(row.arguments, first), 0) << launched;
        EXPECT_EQ(first.Count("CopyItem " + bundle + " -> " + kCopy), 1u);
        EXPECT_EQ(first.Count(launched), 1u) << launched;
        EXPECT_EQ(first.Count("RemoveItem"), 0u);
        ASSERT_EQ(first.alerts.size(), 1u);
        EXPECT_STREQ(first.alerts[0].details.ConstData(),
                     row.dryRun ? "Dry run: nothing will be removed." : "");
    }
}

// Every way the first phase can end after the confirmation but for the relaunch: a step that
// fails says why in the unexpected error's details (status 2); a stop asked for at any step ends
// the run as cancelled (status 4; the platform's copy and start fail once a stop is asked for).
// Either way the run folder goes whenever one was made.
TEST_F(UninstallerFlowTest, FirstPhaseEndingsAfterTheConfirmation)
{
    struct Case
    {
        const char* stopDuring; // "": no stop
        int answer;
        Status temporary, create, copy, launch;
        int status;
        const char* details; // the unexpected error's, or nullptr: the cancelled dialog
        bool madeFolder;
    };
    const Status done;
    const Status stopped = Status::Failed(EINTR, "stopped");
    const int uninstall = AlertAlternateReturn;
    const Case cases[] = {
        {"", uninstall, Status::Failed(0, "/tmp does not allow programs to run (noexec)"), done, done, done, 2,
         "/tmp does not allow programs to run (noexec)", false},
        {"", uninstall, done, Status::Failed(EROFS, "x"), done, done, 2,
         "could not create a private folder in /tmp/fake: Read-only file system", false},
        {"", uninstall, done, done, Status::Failed(ENOSPC, "x"), done, 2,
         "could not copy the uninstaller to /tmp/fake: No space left on device", true},
        {"", uninstall, done, done, done, Status::Failed(EAGAIN, "x"), 2,
         "could not start the uninstaller's copy: Resource temporarily unavailable", true},
        {"RunAlert", uninstall, done, done, done, done, 4, nullptr, false},
        {"RunAlert", AlertDefaultReturn, done, done, done, done, 4, nullptr, false},
        {"CreateDirectory", uninstall, done, done, stopped, done, 4, nullptr, true},
        {"CopyItem", uninstall, done, done, stopped, done, 4, nullptr, true},
        {"LaunchTask", uninstall, done, done, done, stopped, 4, nullptr, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.details != nullptr ? c.details : c.stopDuring);
        FakeUninstallerPlatform first = platform;
        first.stopDuring = c.stopDuring;
        first.alertAnswers = {c.answer};
        first.temporaryResult = c.temporary;
        first.createDirectoryResult = c.create;
        first.copyResult = c.copy;
        first.launchResult = c.launch;
        EXPECT_EQ(Run({}, first), c.status);
        ASSERT_EQ(first.alerts.size(), 2u);
        const Alert& last = first.alerts[1];
        EXPECT_STREQ(last.informativeText.ConstData(), c.details != nullptr
                                                           ? "An unxpected error has occured. Restart uninstaller."
                                                           : "Uninstallation was cancelled. Nothing was removed.");
        EXPECT_STREQ(last.details.ConstData(), c.details != nullptr ? c.details : "");
        EXPECT_EQ(first.Count("RemoveItem /tmp/fake/UNIQUE-42"), c.madeFolder ? 1u : 0u);
    }
    // No usable temporary folder: nothing is made, least of all at "/" + the unique name.
    platform.temporaryDirectory.clear();
    EXPECT_FALSE(CreateTemporaryDirectory(platform).IsDone());
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(UninstallerFlowTest, SecondPhaseRemovesItsCopyAndRunsTheInstalledFiles)
{
    FakeUninstallerPlatform second = SecondPhase();
    second.toolOutput.assign(1000, 'x');
    EXPECT_EQ(RunSecond(second), 0);
    EXPECT_EQ(second.Count("RemoveRunningCopy"), 1u);
    EXPECT_EQ(second.Count("AcquireRight system.privilege.admin"), 1u);
    // The tool is waited for once all its output is read (what it is run with and each ending's
    // dialog are the outcome table's, below).
    EXPECT_EQ(second.Count("WaitForTool after 1000 bytes"), 1u);
    EXPECT_EQ(second.installedFiles, (std::vector<std::string>{tool, definition, targetFile}));
    ASSERT_EQ(second.alerts.size(), 1u);
    EXPECT_EQ(second.alerts[0].kind, AlertKind::Information);

    // Run in the installed bundle itself (no argument, or its own path; the marker anywhere):
    // nothing to remove, the running bundle's files are the installed ones.
    for (std::vector<const char*> arguments :
         {std::vector<const char*>{"1"}, {"1", bundle.c_str()}, {"x", "1"}})
    {
        FakeUninstallerPlatform installed;
        installed.bundlePath = bundle;
        EXPECT_EQ(Run(arguments, installed), 0);
        EXPECT_EQ(installed.Count("RemoveRunningCopy"), 0u);
        EXPECT_EQ(installed.installedFiles, (std::vector<std::string>{tool, definition, targetFile}));
    }
}

// The name in the dialogs is read from the definition the tool is handed (its real path), never
// from the copy the second phase runs in.
TEST_F(UninstallerFlowTest, NameComesFromTheDefinitionTheToolIsGiven)
{
    const std::string other = WriteFile("real/sku.xml", "<product><sku name=\"Other Product\"/></product>");
    FakeUninstallerPlatform second = SecondPhase();
    second.realPaths = {{definition, other}};
    EXPECT_EQ(RunSecond(second), 0);
    EXPECT_EQ(second.Count("Execute " + tool + " -uninstall " + other + " " + targetFile + " -v"), 1u);
    EXPECT_STREQ(second.alerts.at(0).messageText.ConstData(), "Uninstall Other Product");

    FakeUninstallerPlatform missing = SecondPhase();
    missing.findFilesResult = Status::Failed(ENOENT, tool.c_str());
    EXPECT_EQ(RunSecond(missing), 2);
    EXPECT_EQ(missing.Count("Execute"), 0u);
    ASSERT_EQ(missing.alerts.size(), 1u);
    EXPECT_STREQ(missing.alerts[0].messageText.ConstData(), "Configuration Error");
    EXPECT_EQ(std::string(missing.alerts[0].details.ConstData()), tool + ": No such file or directory");
}

// Every ending of the second phase: its exit status, its dialog and what the Details hold.
TEST_F(UninstallerFlowTest, EachOutcomeHasItsStatusDialogAndDetails)
{
    const std::string output =
        "removed /opt/demo/a\nkept /opt/demo/Settings: marked to keep\n"
        "failed /opt/demo/b: Operation not permitted\nwaiting for another removal of /opt/demo\n"
        "ignored /opt/demo/log: Busy\n";
    const std::string failures =
        "failed /opt/demo/b: Operation not permitted\nkept /opt/demo/Settings: marked to keep\n"
        "ignored /opt/demo/log: Busy\nwaiting for another removal of /opt/demo";
    const std::string keeps = "kept /opt/demo/Settings: marked to keep\nignored /opt/demo/log: Busy";
    struct Case
    {
        const char* name;
        Status acquire, execute;
        ToolOutcome outcome; // Restarted: then Succeeded
        std::string rightsReason;
        int status;
        const char* informative; // nullptr: no dialog
        std::string details;
        bool dryRun = false;
        const char* ownOutput = nullptr; // the tool's output when not the shared one
    };
    const Status done;
    const std::string dryOutput =
        "removal needs administrator rights\nwould remove /opt/demo/a\n"
        "would fail /opt/demo/b: Permission denied\nkept /opt/demo/Settings: marked to keep\n";
    const std::string dryDetails =
        "removal needs administrator rights\nwould fail /opt/demo/b: Permission denied\n"
        "would remove /opt/demo/a\nkept /opt/demo/Settings: marked to keep";
    const char* noRights =
        "Administrator rights are needed to remove Demo Product, and they could not be obtained.";
    // The platform's advice follows the dialog's own sentence; the details keep every line said.
    const std::string refused = noRights + std::string(" Ask an administrator.");
    const Case cases[] = {
        {"removed", done, done, ToolOutcome::Succeeded, "", 0,
         "Uninstallation completed successfully.", keeps},
        {"failed", done, done, ToolOutcome::Failed, "", 1,
         "Uninstallation failed. Some components may not have been removed. 1 item could not be removed, "
         "and 1 was kept as the product asks; the details say why.",
         failures},
        {"refused by the tool", done, done, ToolOutcome::NothingRemoved, "", 2,
         "Uninstallation failed. Nothing was removed.", failures},
        {"nothing of it found", done, done, ToolOutcome::NotFound, "", 5,
         "Demo Product was not found in /opt/demo. Nothing was removed.",
         "waiting for another removal of /opt/demo"},
        {"cancelled before removing", done, done, ToolOutcome::Cancelled, "", 4,
         "Uninstallation was cancelled. Nothing was removed.", "", false,
         "cancelled before anything was removed\n"},
        {"cancelled while removing", done, done, ToolOutcome::Cancelled, "", 4,
         "Uninstallation was cancelled. 1 item was removed; run the uninstaller again to finish.", keeps},
        {"cancelled after removing some", done, done, ToolOutcome::Cancelled, "", 4,
         "Uninstallation was cancelled. 2 items were removed; run the uninstaller again to finish.",
         "kept /opt/demo/b: the removal was cancelled", false,
         "removed /opt/demo/a\nremoved /opt/demo/c\nkept /opt/demo/b: the removal was cancelled\n"},
        {"not started", done, Status::Failed(EAGAIN, "x"), ToolOutcome::Succeeded, "", 2,
         "An unxpected error has occured. Restart uninstaller.",
         "could not start the removal tool: Resource temporarily unavailable"},
        {"no way to ask", Status::Failed(0, "no pkexec"), done, ToolOutcome::Succeeded, "", 3, noRights,
         "no pkexec"},
        {"prompt interrupted", Status::Failed(ECANCELED, "interrupted"), done, ToolOutcome::Succeeded, "", 4,
         "Uninstallation was cancelled. Nothing was removed.", ""},
        {"dismissed at the elevation program", done, done, ToolOutcome::AuthorizationRefused, "", 4,
         nullptr, ""},
        {"elevation program could not ask", done, done, ToolOutcome::RightsNotObtained, "", 3,
         refused.c_str(), "Error executing command as another user: Not authorized\nThis incident has been reported.",
         false,
         "Error executing command as another user: Not authorized\n\nThis incident has been reported.\n"
         "ignored /opt/demo/log: Busy\n"},
        {"its replacement was refused", done, done, ToolOutcome::RightsNotObtained,
         "sudo: 3 incorrect\x1b", 3, noRights, "sudo: 3 incorrect\\x1B"},
        {"started again another way", done, done, ToolOutcome::Restarted, "", 0,
         "Uninstallation completed successfully.", keeps},
        {"dry run", done, done, ToolOutcome::Succeeded, "", 0,
         "Dry run: the uninstallation would succeed. Nothing was removed.", dryDetails, true},
        {"dry run that would fail", done, done, ToolOutcome::Failed, "", 1,
         "Dry run: the uninstallation would fail. Nothing was removed.", dryDetails, true},
    };
    for (const Case& c : cases)
    {
        FakeUninstallerPlatform second = SecondPhase();
        second.toolOutput = c.ownOutput != nullptr ? c.ownOutput : c.dryRun ? dryOutput : output;
        second.acquireResult = c.acquire;
        second.executeResult = c.execute;
        second.toolOutcomes = {c.outcome};
        if (c.outcome == ToolOutcome::Restarted)
            second.toolOutcomes.push_back(ToolOutcome::Succeeded);
        second.rightsReason = c.rightsReason;
        second.rightsAdvice = "Ask an administrator.";
        std::vector<const char*> arguments = {"1", bundle.c_str()};
        if (c.dryRun)
            arguments.push_back("-n");
        EXPECT_EQ(Run(arguments, second), c.status) << c.name;
        const std::string execute =
            "Execute " + tool + " -uninstall " + definition + " " + targetFile + " -v";
        EXPECT_EQ(second.Count(execute + (c.dryRun ? " -n" : "")), c.acquire.IsDone() ? 1u : 0u) << c.name;
        EXPECT_EQ(second.Count("FreeAuthorization"), 1u) << c.name;
        EXPECT_TRUE(c.acquire.IsDone() || second.progress.empty()) << c.name << ": progress with no tool started";
        ASSERT_EQ(second.alerts.size(), c.informative ? 1u : 0u) << c.name;
        if (c.informative == nullptr)
            continue;
        EXPECT_STREQ(second.alerts[0].informativeText.ConstData(), c.informative) << c.name;
        EXPECT_EQ(std::string(second.alerts[0].details.ConstData()), c.details) << c.name;
        EXPECT_TRUE(second.alerts[0].defaultButton.IsEmpty()) << c.name;
        // Shown at once when something failed or would; split for a list into item and reason.
        EXPECT_EQ(second.alerts[0].detailsOpen, c.status == 1) << c.name;
        if (c.name != std::string("failed"))
            continue;
        std::string items;
        for (const Alert::DetailLine& line : second.alerts[0].detailLines)
            items += std::string(items.empty() ? "" : "\n") + line.item.ConstData() + "|" +
                     line.reason.ConstData();
        EXPECT_EQ(items,
                  "failed /opt/demo/b|Operation not permitted\nkept /opt/demo/Settings|marked to keep\n"
                  "ignored /opt/demo/log|Busy\nwaiting for another removal of /opt/demo|");
    }
}

TEST_F(UninstallerFlowTest, OutOfMemoryReadingTheNameShowsTheUnexpectedError)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot be set under AddressSanitizer";
#else
    // A sparse definition far larger than the address space the child may use.
    std::string huge = folder + "/huge.xml";
    int file = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(ftruncate(file, off_t(4) << 30), 0);
    close(file);
    platform.auxiliaryFiles["sku.xml"] = huge;
    const RunProgram::ChildOutcome child = RunProgram::RunInChild(
        [&](int)
        {
            rlimit limit = {rlim_t(1) << 30, rlim_t(1) << 30};
            setrlimit(RLIMIT_AS, &limit);
            const int status = Run({});
            bool shown =
                platform.alerts.size() == 1 && platform.alerts[0].messageText == TqString("Unexpected Error");
            return shown && status == 2 ? 0 : 1;
        });
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.waitStatus.has_value());
    const int status = *child.waitStatus;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
}

TEST_F(UninstallerFlowTest, SecondPhaseShowsProgressAgainstTheDefinitionsEntries)
{
    WriteFile("Installed/Uninstall.app/Contents/MacOS/sku.xml",
              "<product><sku name=\"Demo Product\"/><installFiles><directory fileName=\"d\">"
              "<file fileName=\"a\"/><file fileName=\"b\"/></directory></installFiles></product>");
    // Each line comes in a read of its own, so each count shows; what the elevation program says
    // first is never drawn into the progress.
    platform.toolOutput = "==== AUTHENTICATING FOR org.freedesktop.policykit.exec ====\nremoved /opt/demo/d/a\n"
                          "failed /opt/demo/d/b: Busy\nkept /opt/demo/d\nsummary: 1 removed, 1 kept, 0 missing, 1 failed\n";
    platform.toolOutcomes = {ToolOutcome::Failed};
    EXPECT_EQ(Run({"1"}), 1);
    const std::vector<std::string> expected = {"Begin Demo Product of 3", "Show 1 /opt/demo/d/a",
                                               "Show 2 /opt/demo/d/b", "Show 3 /opt/demo/d", "End after 0 alerts"};
    EXPECT_EQ(platform.progress, expected);
}
