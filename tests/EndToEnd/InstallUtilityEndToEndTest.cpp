// The real Uninstall, unattended, running the real InstallUtility on the demo product installed
// into a temporary sandbox, as a user's machine would hold it: the product's folders, the
// shortcut, and Uninstall.app inside the product.
#include <iostream>

#include "RemovalFixture.h"
#include "RemovalLock.h"
#include "RunProgram.h"

namespace
{

const std::string productName = "Tq Studio Effects";

class InstallUtilityEndToEndTest : public RemovalFixture
{
protected:
    void SetUp() override
    {
        RemovalFixture::SetUp();
        const std::string demo = DEMO_PRODUCT_DIR;
        std::filesystem::copy(demo + "/payload", target, std::filesystem::copy_options::recursive);
        makeLink(target + "/" + productName + "/" + productName + ".app",
                 target + "/" + productName + ".app");
        executables = target + "/" + productName + "/Uninstall.app/Contents/MacOS";
        makeDirectory(executables);
        std::filesystem::copy_file(UNINSTALL_EXECUTABLE, executables + "/Uninstall");
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility");
        std::filesystem::copy_file(demo + "/sku.xml", executables + "/sku.xml");
        writeFile(executables + "/target_path.xml", "<targetPath path=\"" + target + "\"/>\n");
        makeDirectory(base + "/tmp");
        // Without root the uninstaller elevates through pkexec; this stand-in grants it.
        writeFile(base + "/bin/pkexec", "#!/bin/sh\nexec \"$@\"\n");
        chmod((base + "/bin/pkexec").c_str(), 0755);
    }

    // Runs the installed Uninstall unattended and returns what both phases (and the tool) wrote
    // on standard error: they all inherit it, so its end is the end of the whole uninstallation.
    std::string runUninstall()
    {
        const RunProgram::Outcome outcome = RunProgram::Run(uninstallLaunch(), 60);
        EXPECT_NE(outcome.status, -2) << "Uninstall could not be started";
        EXPECT_TRUE(outcome.complete) << "the uninstallation did not end within 60 seconds; so far:\n"
                                      << outcome.text;
        return outcome.text;
    }

    RunProgram::Launch uninstallLaunch() const
    {
        const char* path = getenv("PATH");
        const std::string tools = base + "/bin:" + (path ? path : "/usr/bin:/bin");
        const std::string runFolders = base + "/tmp";
        RunProgram::Launch launch;
        launch.command = {executables + "/Uninstall"};
        launch.environment = RunProgram::EnvironmentWith({{"TMPDIR", runFolders.c_str()},
                                                          {"UNINSTALL_UNATTENDED", "1"},
                                                          {"PATH", tools.c_str()},
                                                          {"DISPLAY", nullptr}});
        launch.output = RunProgram::DevNull;
        launch.errors = RunProgram::Captured;
        return launch;
    }

    static std::string dialog(const std::string& informative)
    {
        return "Uninstall " + productName + "\n" + informative + "\n[OK]\n-> OK\n\n";
    }

    // What a finished uninstall leaves: the settings folder, kept by its flag, with the folders
    // holding it; its cache goes.
    std::vector<std::string> settingsLeft() const
    {
        const std::string settings = target + "/Application Support/Tq Studio Effects/Settings";
        std::vector<std::string> paths = {target + "/Application Support",
                                          target + "/Application Support/Tq Studio Effects", settings,
                                          settings + "/Preferences.xml", settings + "/License.dat"};
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::string executables;
};

} // namespace

// Where an entry can be locked, the first run fails on it, names it before the failure dialog and
// keeps the installed uninstaller; once the cause is gone, running it again finishes the job.
TEST_F(InstallUtilityEndToEndTest, RemovesExactlyTheListedEntriesAndAfterAFailureRunsAgain)
{
    // An entry that not even root can remove: immutable where the file system allows it, else a
    // bundle with another file system mounted on it.
    const std::string entry = target + "/Plug-Ins/Extensions/TqSpace.tqext";
    const std::string locked = entry + "/Contents";
    std::string immutableReason;
    std::string mountReason;
    const bool madeImmutable = makeImmutable(locked + "/Info.plist", immutableReason);
    if (madeImmutable || mountTmpfs(locked + "/Resources", mountReason))
    {
        const std::string errors = runUninstall();
        for (const std::string& shown : {"failed " + entry + ": Contents/",
                                         "kept " + target + "/" + productName +
                                             "/Uninstall.app: kept so that the uninstall can be run again\n",
                                         "Uninstall " + productName +
                                             "\nUninstallation failed. Some components may not have been "
                                             "removed. 1 item could not be removed"})
            EXPECT_NE(errors.find(shown), std::string::npos) << shown << "\nin:\n" << errors;
        // Everything else listed went all the same.
        EXPECT_FALSE(exists(target + "/Plug-Ins/Modules"));
        EXPECT_FALSE(exists(target + "/" + productName + ".app"));
        EXPECT_TRUE(exists(executables + "/Uninstall"));
        if (madeImmutable)
            EXPECT_TRUE(setImmutable(locked + "/Info.plist", false));
        else
            EXPECT_EQ(umount2((locked + "/Resources").c_str(), MNT_DETACH), 0);
    }
    else
        std::cout << "no failing run: " << immutableReason << "; " << mountReason << "\n";

    const std::string errors = runUninstall();
    EXPECT_NE(errors.find("Uninstall " + productName + "\nDo you wish to remove " + productName +
                          " and all related components?\n[Cancel] [Uninstall]\n-> Uninstall\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find(dialog("Uninstallation completed successfully.")), std::string::npos) << errors;
    EXPECT_EQ(listing(target), settingsLeft());
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
}

// While another removal of the target runs, an unattended uninstall says so when its wait begins;
// asked to stop then (SIGTERM to Uninstall itself, not to its group), it ends the wait: nothing
// removed, exit 4.
TEST_F(InstallUtilityEndToEndTest, AWaitForAnotherRemovalIsSaidAtOnceAndEndsWhenUninstallIsAskedToStop)
{
    Result<RemovalLock::Folder> opened = RemovalLock::OpenFolder();
    ASSERT_TRUE(opened.IsDone()) << opened.GetStatus().Text().ConstData();
    if (!opened.Value().fd.IsOpen())
        GTEST_SKIP() << "this user has no runtime folder of their own, so runs do not take turns";
    struct stat targetStatus;
    ASSERT_EQ(stat(target.c_str(), &targetStatus), 0);
    RemovalLock held; // another removal's turn
    ASSERT_TRUE(held.Take(targetStatus, TqString(target.c_str()), 1, stderr).IsDone());
    const std::vector<std::string> before = listing(target);

    const RunProgram::Started uninstall = RunProgram::Start(uninstallLaunch());
    ASSERT_GT(uninstall.pid, 0);
    const std::string waiting = "waiting for another removal of " + target + "\n";
    std::string errors;
    EXPECT_TRUE(RunProgram::ReadUntil(uninstall.captured, waiting, 30, errors)) << errors;
    EXPECT_EQ(kill(uninstall.pid, SIGTERM), 0);
    bool complete = false;
    errors += RunProgram::ReadToEnd(uninstall.captured, 30, &complete);
    close(uninstall.captured);
    EXPECT_EQ(RunProgram::WaitForExit(uninstall.pid, 30), 4) << errors;
    EXPECT_NE(errors.find(waiting + dialog("Uninstallation was cancelled. Nothing was removed.")),
              std::string::npos)
        << errors;
    EXPECT_EQ(listing(target), before);
}
