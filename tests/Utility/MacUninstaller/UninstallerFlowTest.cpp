#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "FakeUninstallerPlatform.h"
#include "RunProgram.h"
#include "TemporaryFolder.h"
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
        definition = WriteFile("sku.xml", "<product><sku ID=\"7\" name=\"Demo Product\"/></product>");
        targetFile = WriteFile("target_path.xml", "<targetPath path=\"/opt/demo\"/>");
        tool = folder + "/InstallUtility";
        platform.auxiliaryFiles = {
            {"sku.xml", definition}, {"target_path.xml", targetFile}, {"InstallUtility", tool}};
    }
    std::string WriteFile(const std::string& name, const std::string& content)
    {
        return TemporaryFolder::WriteFile(folder + "/" + name, content);
    }

    int Run(std::vector<const char*> arguments)
    {
        arguments.insert(arguments.begin(), "Uninstall");
        return RunUninstaller(static_cast<int>(arguments.size()), arguments.data(), platform);
    }

    TemporaryFolder temporary{"flowtest"};
    std::string folder;
    std::string definition;
    std::string targetFile;
    std::string tool;
    FakeUninstallerPlatform platform;
};

} // namespace

TEST(UninstallerFlow, RelaunchMarkerIsOnlyTheWholeTextOne)
{
    auto marker = [](std::vector<const char*> arguments)
    {
        arguments.insert(arguments.begin(), "Uninstall");
        return HasRelaunchMarker(static_cast<int>(arguments.size()), arguments.data());
    };
    EXPECT_TRUE(marker({"1"}));
    EXPECT_TRUE(marker({"-psn_0_1234", "1"}));
    EXPECT_TRUE(marker({"x", "y", "1", "z"}));
    EXPECT_FALSE(marker({}));
    EXPECT_FALSE(marker({"01"}));
    EXPECT_FALSE(marker({"11"}));
    EXPECT_FALSE(marker({"-1"}));
    EXPECT_FALSE(marker({"1 "}));
    EXPECT_FALSE(marker({" 1"}));
    EXPECT_FALSE(marker({""}));
    const char* programNameOnly[] = {"1"};
    EXPECT_FALSE(HasRelaunchMarker(1, programNameOnly));
}

TEST(UninstallerFlow, InstalledBundleIsTheAbsolutePathAfterTheMarker)
{
    auto installed = [](std::vector<const char*> arguments)
    {
        arguments.insert(arguments.begin(), "Uninstall");
        return std::string(
            InstalledBundleArgument(static_cast<int>(arguments.size()), arguments.data()).ConstData());
    };
    EXPECT_EQ(installed({"1", "/opt/Demo/Uninstall.app"}), "/opt/Demo/Uninstall.app");
    EXPECT_EQ(installed({"-psn_0_1", "1", "/a.app", "/b.app"}), "/a.app");
    EXPECT_EQ(installed({"1"}), "");
    EXPECT_EQ(installed({"1", "relative.app"}), "");
    EXPECT_EQ(installed({"/a.app", "1"}), "");
    EXPECT_EQ(installed({"/a.app"}), "");
}

TEST_F(UninstallerFlowTest, ProductNameComesFromTheDefinitionOrDefaults)
{
    EXPECT_STREQ(GetProductName(definition.c_str()).ConstData(), "Demo Product");
    EXPECT_STREQ(GetProductName(TqString()).ConstData(), "this product");
    EXPECT_STREQ(GetProductName((folder + "/missing.xml").c_str()).ConstData(), "this product");
    EXPECT_STREQ(GetProductName(WriteFile("broken.xml", "<product><sku name=").c_str()).ConstData(),
                 "this product");
    EXPECT_STREQ(
        GetProductName(WriteFile("empty.xml", "<product><sku name=\"\"/></product>").c_str()).ConstData(),
        "this product");
    EXPECT_STREQ(
        GetProductName(WriteFile("noname.xml", "<product><sku ID=\"3\"/></product>").c_str()).ConstData(),
        "this product");
    EXPECT_STREQ(
        GetProductName(WriteFile("percent.xml", "<product><sku name=\"100% %@ %s Pro\"/></product>").c_str())
            .ConstData(),
        "100% %@ %s Pro");
    // Bytes that are not UTF-8 cannot be shown as a name.
    EXPECT_STREQ(GetProductName(WriteFile("latin1.xml", "<product><sku name=\"Caf\xE9\"/></product>").c_str())
                     .ConstData(),
                 "this product");
}

TEST_F(UninstallerFlowTest, AFifoInPlaceOfTheDefinitionGivesTheDefaultNameAtOnce)
{
    const std::string fifo = folder + "/sku.xml.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto name = std::async(std::launch::async, [&] { return std::string(GetProductName(fifo.c_str()).ConstData()); });
    if (name.wait_for(std::chrono::seconds(10)) == std::future_status::timeout)
    {
        // Give the blocked reader a writer, so that the test ends after failing.
        close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        ADD_FAILURE() << "reading the product name waited for a writer on the FIFO";
    }
    EXPECT_EQ(name.get(), "this product");
}

TEST_F(UninstallerFlowTest, PhaseIsChosenByTheMarker)
{
    EXPECT_EQ(Run({"01"}), 0);
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_STREQ(platform.alerts[0].messageText.ConstData(), "Uninstall Demo Product");
    EXPECT_EQ(platform.calls.size(), 1u);

    FakeUninstallerPlatform second;
    second.auxiliaryFiles = platform.auxiliaryFiles;
    const char* arguments[] = {"Uninstall", "-x", "1"};
    EXPECT_EQ(RunUninstaller(3, arguments, second), 0);
    ASSERT_FALSE(second.calls.empty());
    EXPECT_EQ(second.calls[0], "Activate");
}

TEST_F(UninstallerFlowTest, MissingDataFileShowsConfigurationErrorOnly)
{
    for (const char* missing : {"sku.xml", "target_path.xml"})
    {
        FakeUninstallerPlatform partial;
        partial.auxiliaryFiles = platform.auxiliaryFiles;
        partial.auxiliaryFiles.erase(missing);
        partial.alertAnswers = {AlertAlternateReturn, AlertAlternateReturn};
        const char* arguments[] = {"Uninstall"};
        EXPECT_EQ(RunUninstaller(1, arguments, partial), 0);
        ASSERT_EQ(partial.alerts.size(), 1u) << missing;
        EXPECT_STREQ(partial.alerts[0].messageText.ConstData(), "Configuration Error");
        EXPECT_STREQ(partial.alerts[0].informativeText.ConstData(),
                     "Configuration file Uninstall.plist not found in application bundle.");
        EXPECT_TRUE(partial.alerts[0].defaultButton.IsEmpty());
        EXPECT_TRUE(partial.alerts[0].alternateButton.IsEmpty());
        EXPECT_EQ(partial.alerts[0].kind, AlertKind::Error);
        EXPECT_EQ(partial.calls, std::vector<std::string>{"RunAlert Configuration Error"}) << missing;
    }
}

TEST_F(UninstallerFlowTest, ConfirmationShowsTheNameLiterally)
{
    platform.auxiliaryFiles["sku.xml"] =
        WriteFile("percent.xml", "<product><sku name=\"50% %d %@ Suite\"/></product>");
    EXPECT_EQ(Run({}), 0);
    ASSERT_EQ(platform.alerts.size(), 1u);
    const Alert& alert = platform.alerts[0];
    EXPECT_STREQ(alert.messageText.ConstData(), "Uninstall 50% %d %@ Suite");
    EXPECT_STREQ(alert.informativeText.ConstData(),
                 "Do you wish to remove 50% %d %@ Suite and all related components?");
    EXPECT_STREQ(alert.defaultButton.ConstData(), "Cancel");
    EXPECT_STREQ(alert.alternateButton.ConstData(), "Uninstall");
    EXPECT_TRUE(alert.otherButton.IsEmpty());
    EXPECT_EQ(alert.kind, AlertKind::Question);

    FakeUninstallerPlatform unreadable;
    unreadable.auxiliaryFiles = platform.auxiliaryFiles;
    unreadable.auxiliaryFiles["sku.xml"] = WriteFile("garbage.xml", "not xml at all <<<");
    const char* arguments[] = {"Uninstall"};
    RunUninstaller(1, arguments, unreadable);
    ASSERT_EQ(unreadable.alerts.size(), 1u);
    EXPECT_STREQ(unreadable.alerts[0].messageText.ConstData(), "Uninstall this product");
    EXPECT_STREQ(unreadable.alerts[0].informativeText.ConstData(),
                 "Do you wish to remove this product and all related components?");
}

TEST_F(UninstallerFlowTest, OnlyTheAlternateButtonGoesOn)
{
    for (int answer : {int(AlertDefaultReturn), int(AlertOtherReturn), 5})
    {
        FakeUninstallerPlatform cancelled;
        cancelled.auxiliaryFiles = platform.auxiliaryFiles;
        cancelled.alertAnswers = {answer};
        const char* arguments[] = {"Uninstall"};
        EXPECT_EQ(RunUninstaller(1, arguments, cancelled), 0);
        EXPECT_EQ(cancelled.calls, std::vector<std::string>{"RunAlert Uninstall Demo Product"}) << answer;
    }
}

TEST_F(UninstallerFlowTest, ConfirmedFirstPhaseCopiesAndRelaunches)
{
    platform.temporaryDirectory = "/tmp/fake/";
    platform.alertAnswers = {AlertAlternateReturn};
    EXPECT_EQ(Run({}), 0);
    std::vector<std::string> expected = {
        "RunAlert Uninstall Demo Product",
        "CreateDirectory /tmp/fake/UNIQUE-42",
        std::string("CopyItem /Applications/Demo/Uninstall.app -> ") + kCopy,
        std::string("LaunchTask ") + kCopy + "/Contents/MacOS/Uninstall 1 /Applications/Demo/Uninstall.app",
    };
    EXPECT_EQ(platform.calls, expected);
    EXPECT_EQ(platform.alerts.size(), 1u);

    EXPECT_STREQ(CreateTemporaryDirectory(platform).ConstData(), "/tmp/fake/UNIQUE-42");
    platform.createDirectoryResult = false;
    EXPECT_TRUE(CreateTemporaryDirectory(platform).IsEmpty());
    // No safe temporary folder: nothing is made, least of all at "/" + the unique name.
    platform.createDirectoryResult = true;
    platform.temporaryDirectory.clear();
    platform.calls.clear();
    EXPECT_TRUE(CreateTemporaryDirectory(platform).IsEmpty());
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(UninstallerFlowTest, FirstPhaseFailuresAfterConfirmationShowUnexpectedError)
{
    struct Case
    {
        bool createDirectory, copy, launch;
        size_t expectedCalls;
    };
    for (Case failure :
         {Case{false, true, true, 3u}, Case{true, false, true, 5u}, Case{true, true, false, 6u}})
    {
        FakeUninstallerPlatform failing;
        failing.auxiliaryFiles = platform.auxiliaryFiles;
        failing.alertAnswers = {AlertAlternateReturn};
        failing.createDirectoryResult = failure.createDirectory;
        failing.copyResult = failure.copy;
        failing.launchResult = failure.launch;
        const char* arguments[] = {"Uninstall"};
        EXPECT_EQ(RunUninstaller(1, arguments, failing), 0);
        ASSERT_EQ(failing.alerts.size(), 2u);
        EXPECT_STREQ(failing.alerts[1].messageText.ConstData(), "Unexpected Error");
        EXPECT_STREQ(failing.alerts[1].informativeText.ConstData(),
                     "An unxpected error has occured. Restart uninstaller.");
        EXPECT_TRUE(failing.alerts[1].defaultButton.IsEmpty());
        EXPECT_EQ(failing.alerts[1].kind, AlertKind::Error);
        EXPECT_EQ(failing.calls.size(), failure.expectedCalls);
        EXPECT_EQ(failing.calls.back(), "RunAlert Unexpected Error");
        // A copy that failed, or that could not be started, goes with its directory before the alert.
        if (failure.createDirectory)
        {
            EXPECT_EQ(failing.calls[failing.calls.size() - 2], "RemoveItem /tmp/fake/UNIQUE-42");
        }
    }
}

TEST_F(UninstallerFlowTest, SecondPhaseDrainsTheToolAndReportsCompletion)
{
    platform.toolOutput.assign(1000, 'x');
    EXPECT_EQ(Run({"1"}), 0);
    std::vector<std::string> expected = {
        "Activate",
        "CreateAuthorization",
        "AcquireRight system.privilege.admin",
        "Execute " + tool + " -uninstall " + definition + " " + targetFile + " -v",
        "WaitForTool after 1000 bytes",
        "FreeAuthorization",
        "RunAlert Uninstall Demo Product",
    };
    EXPECT_EQ(platform.calls, expected);
    // 1000 bytes in reads of 64 (16 reads, the last one short) and one read that finds the end.
    EXPECT_EQ(platform.readSizes, std::vector<unsigned long>(17, 64));
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_STREQ(platform.alerts[0].informativeText.ConstData(), "Uninstallation completed successfully.");
    EXPECT_TRUE(platform.alerts[0].defaultButton.IsEmpty());
    EXPECT_TRUE(platform.alerts[0].alternateButton.IsEmpty());
    EXPECT_EQ(platform.alerts[0].kind, AlertKind::Information);
}

TEST_F(UninstallerFlowTest, SecondPhaseFailuresFreeTheAuthorization)
{
    auto run = [this](auto configure)
    {
        FakeUninstallerPlatform second;
        second.auxiliaryFiles = platform.auxiliaryFiles;
        second.toolOutput = "removed /opt/demo/a\n";
        configure(second);
        const char* arguments[] = {"Uninstall", "1"};
        EXPECT_EQ(RunUninstaller(2, arguments, second), 0);
        return second;
    };

    FakeUninstallerPlatform noReference =
        run([](FakeUninstallerPlatform& p) { p.createAuthorizationResult = false; });
    EXPECT_EQ(noReference.calls, (std::vector<std::string>{"Activate", "CreateAuthorization", "FreeAuthorization",
                                                           "RunAlert Uninstall Demo Product"}));

    FakeUninstallerPlatform cancelled = run(
        [](FakeUninstallerPlatform& p)
        {
            p.acquireResult = false;
            p.acquisitionCancelled = true;
        });
    EXPECT_EQ(cancelled.calls,
              (std::vector<std::string>{"Activate", "CreateAuthorization",
                                        "AcquireRight system.privilege.admin", "FreeAuthorization"}));
    EXPECT_TRUE(cancelled.alerts.empty());

    FakeUninstallerPlatform notStarted = run([](FakeUninstallerPlatform& p) { p.executeResult = false; });
    EXPECT_EQ(notStarted.calls.size(), 5u);
    EXPECT_EQ(notStarted.calls.back(), "FreeAuthorization");
    EXPECT_TRUE(notStarted.readSizes.empty());
    EXPECT_TRUE(notStarted.alerts.empty());

    FakeUninstallerPlatform refused =
        run([](FakeUninstallerPlatform& p) { p.toolOutcome = ToolOutcome::AuthorizationRefused; });
    EXPECT_EQ(refused.calls.back(), "FreeAuthorization");
    EXPECT_TRUE(refused.alerts.empty());

    FakeUninstallerPlatform failed =
        run([](FakeUninstallerPlatform& p) { p.toolOutcome = ToolOutcome::Failed; });
    EXPECT_EQ(failed.calls[failed.calls.size() - 2], "FreeAuthorization");
    ASSERT_EQ(failed.alerts.size(), 1u);
    EXPECT_STREQ(failed.alerts[0].messageText.ConstData(), "Uninstall Demo Product");
    EXPECT_STREQ(failed.alerts[0].informativeText.ConstData(),
                 "Uninstallation failed. Some components may not have been removed.");
    EXPECT_TRUE(failed.alerts[0].defaultButton.IsEmpty());
    EXPECT_EQ(failed.alerts[0].kind, AlertKind::Error);

    // A read error ends the draining; the tool is still waited for and the authorization freed.
    FakeUninstallerPlatform readError = run(
        [](FakeUninstallerPlatform& p)
        {
            p.toolOutput.assign(300, 'y');
            p.readErrorAt = 128;
        });
    EXPECT_EQ(readError.readSizes.size(), 3u);
    EXPECT_EQ(readError.calls[4], "WaitForTool after 128 bytes");
    EXPECT_EQ(readError.calls[5], "FreeAuthorization");
}

TEST_F(UninstallerFlowTest, SecondPhaseWithoutToolOrDataFilesAsksForNothing)
{
    for (const char* missing : {"InstallUtility", "sku.xml", "target_path.xml"})
    {
        FakeUninstallerPlatform incomplete;
        incomplete.auxiliaryFiles = platform.auxiliaryFiles;
        incomplete.auxiliaryFiles.erase(missing);
        const char* arguments[] = {"Uninstall", "1"};
        EXPECT_EQ(RunUninstaller(2, arguments, incomplete), 0);
        EXPECT_EQ(incomplete.calls, (std::vector<std::string>{"Activate", "RunAlert Configuration Error"}))
            << missing;
    }
}

TEST_F(UninstallerFlowTest, SecondPhaseElevatesTheFilesThePlatformChose)
{
    platform.filesToElevate = {"/opt/Demo/Uninstall.app/Contents/MacOS/InstallUtility", "/etc/demo/sku.xml",
                               "/opt/Demo/Uninstall.app/Contents/MacOS/target_path.xml"};
    EXPECT_EQ(Run({"1", "/opt/Demo/Uninstall.app"}), 0);
    EXPECT_EQ(platform.installedBundleArguments, std::vector<std::string>{"/opt/Demo/Uninstall.app"});
    EXPECT_EQ(platform.calls[3],
              "Execute /opt/Demo/Uninstall.app/Contents/MacOS/InstallUtility -uninstall "
              "/etc/demo/sku.xml /opt/Demo/Uninstall.app/Contents/MacOS/target_path.xml -v");
    // The name shown is still read from the copy's definition.
    EXPECT_STREQ(platform.alerts.at(0).messageText.ConstData(), "Uninstall Demo Product");

    // Files that are not safe to run: the unexpected-error dialog, and nothing is asked for or run.
    FakeUninstallerPlatform unsafe;
    unsafe.auxiliaryFiles = platform.auxiliaryFiles;
    unsafe.chooseFilesResult = false;
    const char* arguments[] = {"Uninstall", "1"};
    EXPECT_EQ(RunUninstaller(2, arguments, unsafe), 0);
    EXPECT_EQ(unsafe.installedBundleArguments, std::vector<std::string>{""});
    EXPECT_EQ(unsafe.calls, (std::vector<std::string>{"Activate", "RunAlert Unexpected Error"}));
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
            Run({});
            bool shown =
                platform.alerts.size() == 1 && platform.alerts[0].messageText == TqString("Unexpected Error");
            return shown ? 0 : 1;
        });
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.waitStatus.has_value());
    const int status = *child.waitStatus;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
#endif
}

TEST_F(UninstallerFlowTest, RightsThatCannotBeHadAreSaidButACancelIsQuiet)
{
    struct Case
    {
        const char* name;
        bool acquire, cancelled;
        ToolOutcome outcome;
        bool told;
    };
    for (Case c : {Case{"no way to ask", false, false, ToolOutcome::Succeeded, true},
                   Case{"prompt dismissed", false, true, ToolOutcome::Succeeded, false},
                   Case{"refused by the elevation program", true, false, ToolOutcome::RightsNotObtained, true},
                   Case{"dismissed at the elevation program", true, false, ToolOutcome::AuthorizationRefused, false}})
    {
        FakeUninstallerPlatform second;
        second.auxiliaryFiles = {{"sku.xml", definition}, {"target_path.xml", targetFile}, {"InstallUtility", tool}};
        second.acquireResult = c.acquire;
        second.acquisitionCancelled = c.cancelled;
        second.toolOutcome = c.outcome;
        const char* arguments[] = {"Uninstall", "1"};
        EXPECT_EQ(RunUninstaller(2, arguments, second), 0);
        EXPECT_EQ(second.calls.back(), c.told ? "RunAlert Uninstall Demo Product" : "FreeAuthorization") << c.name;
        ASSERT_EQ(second.alerts.size(), c.told ? 1u : 0u) << c.name;
        if (!c.told)
            continue;
        EXPECT_STREQ(second.alerts[0].informativeText.ConstData(),
                     "Administrator rights are needed to remove Demo Product, and they could not be obtained.");
        EXPECT_TRUE(second.alerts[0].defaultButton.IsEmpty());
        EXPECT_TRUE(second.alerts[0].alternateButton.IsEmpty());
        EXPECT_TRUE(second.alerts[0].otherButton.IsEmpty());
    }
}

TEST_F(UninstallerFlowTest, SecondPhaseShowsProgressAgainstTheDefinitionsEntries)
{
    platform.auxiliaryFiles["sku.xml"] =
        WriteFile("tree.xml", "<product><sku name=\"Demo Product\"/><installFiles><directory fileName=\"d\">"
                              "<file fileName=\"a\"/><file fileName=\"b\"/></directory></installFiles></product>");
    // Lines longer than one read of the drain, so each count shows on its own.
    const std::string path(70, 'p');
    platform.toolOutput = "removed /opt/demo/d/a" + path + "\nfailed /opt/demo/d/b" + path +
                          ": Busy\nkept /opt/demo/d" + path + "\nsummary: 1 removed, 1 kept, 0 missing, 1 failed\n";
    platform.toolOutcome = ToolOutcome::Failed;
    EXPECT_EQ(Run({"1"}), 0);
    std::vector<std::string> expected = {
        "Begin Demo Product of 3",
        "Show 1 /opt/demo/d/a" + path,
        "Show 2 /opt/demo/d/b" + path,
        "Show 3 /opt/demo/d" + path,
        "End after 0 alerts",
    };
    EXPECT_EQ(platform.progress, expected);
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(std::string(platform.alerts[0].details.ConstData()), "failed /opt/demo/d/b" + path + ": Busy");

    // No tool started, no progress; a run that succeeds has no details to show.
    FakeUninstallerPlatform refused;
    refused.auxiliaryFiles = platform.auxiliaryFiles;
    refused.acquireResult = false;
    const char* arguments[] = {"Uninstall", "1"};
    RunUninstaller(2, arguments, refused);
    EXPECT_TRUE(refused.progress.empty());

    FakeUninstallerPlatform succeeded;
    succeeded.auxiliaryFiles = platform.auxiliaryFiles;
    succeeded.toolOutput = "failed /opt/demo/log: Busy (ignored)\n";
    RunUninstaller(2, arguments, succeeded);
    ASSERT_EQ(succeeded.alerts.size(), 1u);
    EXPECT_TRUE(succeeded.alerts[0].details.IsEmpty());
    EXPECT_EQ(succeeded.progress.back(), "End after 0 alerts");
}
