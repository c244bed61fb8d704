#include <algorithm>
#include <regex>

#include "InstalledBundleFixture.h"

namespace
{

const char kConfirmation[] = "Uninstall Demo 100% Product\n"
                             "Do you wish to remove Demo 100% Product and all related components?\n"
                             "[Cancel] [Uninstall]\n"
                             "-> Uninstall\n\n";

class UninstallEndToEndTest : public InstalledBundleFixture
{
protected:
    // Runs the installed Uninstall unattended, from root, and returns its standard error, which
    // the relaunched copy and the tool share; it ends when the last of them has exited.
    std::string RunUnattended(int* exitStatus) { return Run({executables + "/Uninstall"}, exitStatus); }

    // Runs command (the program first) unattended, as user when that is not root, as above.
    std::string Run(const std::vector<std::string>& command, int* exitStatus, uid_t user = 0)
    {
        const RunProgram::Started child = RunProgram::Start(UnattendedLaunch(command, user));
        EXPECT_GT(child.pid, 0);
        bool complete = false;
        std::string text = child.captured >= 0 ? RunProgram::ReadToEnd(child.captured, 120, &complete) : "";
        close(child.captured);
        EXPECT_TRUE(complete) << "standard error was not closed in time";
        *exitStatus = child.pid > 0 ? RunProgram::WaitForExit(child.pid, 30) : -2;
        return text;
    }

    // Unattended, from root, standard error captured.
    RunProgram::Launch UnattendedLaunch(const std::vector<std::string>& command, uid_t user = 0) const
    {
        RunProgram::Launch launch;
        launch.command = command;
        launch.environment = UninstallEnvironment({{"UNINSTALL_UNATTENDED", "1"}, {"DISPLAY", nullptr}});
        launch.folder = root;
        if (user != 0)
            launch.user = user;
        launch.errors = RunProgram::Captured;
        return launch;
    }

    // The one temporary copy's bundle folder, after checking the directory that holds it.
    std::string CheckedCopy()
    {
        std::vector<std::string> entries = TemporaryEntries();
        EXPECT_EQ(entries.size(), 1u);
        if (entries.size() != 1)
            return std::string();
        EXPECT_TRUE(std::regex_match(entries[0], std::regex("[0-9a-f]{32}-[0-9]+"))) << entries[0];
        struct stat status;
        std::string directory = temporary + "/" + entries[0];
        EXPECT_EQ(stat(directory.c_str(), &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, 0700u);
        return directory + "/Uninstall.app";
    }
};

} // namespace

TEST_F(UninstallEndToEndTest, SecondPhaseRunsTheToolFromAPrivateCopy)
{
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(errors,
              std::string(kConfirmation) +
                  "stand-in tool finished\n"
                  "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");

    std::string copy = CheckedCopy();
    std::string copiedExecutables = copy + "/Contents/MacOS";
    EXPECT_EQ(ReadFile(record), "program=" + copiedExecutables +
                                    "/InstallUtility\n"
                                    "cwd=" +
                                    root +
                                    "\n"
                                    "argc=4\n"
                                    "arg=-uninstall\n"
                                    "arg=" +
                                    copiedExecutables +
                                    "/sku.xml\n"
                                    "arg=" +
                                    copiedExecutables +
                                    "/target_path.xml\n"
                                    "arg=-v\n");
    EXPECT_EQ(ReadFile(copiedExecutables + "/sku.xml"), ReadFile(executables + "/sku.xml"));
    struct stat status;
    ASSERT_EQ(stat((copiedExecutables + "/Uninstall").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);
    // The installed bundle is left for the tool to remove; the uninstaller itself keeps it.
    EXPECT_TRUE(std::filesystem::exists(executables + "/Uninstall"));
}

TEST_F(UninstallEndToEndTest, FailingToolGetsTheFailureDialog)
{
    WriteTool(1);
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(errors,
              std::string(kConfirmation) +
                  "stand-in tool finished\n"
                  "Uninstall Demo 100% Product\n"
                  "Uninstallation failed. Some components may not have been removed.\n[OK]\n-> OK\n\n");
    CheckedCopy();
    EXPECT_NE(ReadFile(record).find("argc=4\n"), std::string::npos);
}

TEST_F(UninstallEndToEndTest, MissingTargetFileStopsAtTheConfigurationError)
{
    std::filesystem::remove(executables + "/target_path.xml");
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(errors, "Configuration Error\n"
                      "Configuration file Uninstall.plist not found in application bundle.\n[OK]\n-> OK\n\n");
    EXPECT_TRUE(TemporaryEntries().empty());
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(UninstallEndToEndTest, TemporaryFolderOthersMayChangeFallsBackToTmp)
{
    // Everyone may write it and it is not sticky: anyone could swap the private copy for their own.
    chmod(temporary.c_str(), 0777);
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    std::string program = ReadFile(record);
    std::smatch copy;
    ASSERT_TRUE(
        std::regex_search(program, copy, std::regex("program=(/tmp/[0-9a-f]{32}-[0-9]+)/Uninstall.app/")))
        << program;
    std::filesystem::remove_all(copy[1].str());
    EXPECT_EQ(exitStatus, 0);
    EXPECT_NE(errors.find("Uninstallation completed successfully."), std::string::npos) << errors;
    EXPECT_TRUE(TemporaryEntries().empty());
}

TEST_F(UninstallEndToEndTest, RootRefusesToRunItsBundleFromAFolderOthersMayChange)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root runs the tool from its own bundle";
    chmod((root + "/Installed").c_str(), 0777);
    int exitStatus = -2;
    std::string errors = Run({executables + "/Uninstall", "1"}, &exitStatus);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(errors,
              "Unexpected Error\nAn unxpected error has occured. Restart uninstaller.\n[OK]\n-> OK\n\n");
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(UninstallEndToEndTest, UserElevatesTheInstalledToolWhenRootAloneOwnsIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "running as another uid needs root";
    const uid_t user = 54321;
    // A stand-in pkexec that only records what it was asked to run, in a folder the user may write.
    std::string outbox = root + "/outbox";
    std::filesystem::create_directories(outbox);
    WriteFile(root + "/bin/pkexec", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + outbox + "/pkexec'\n", 0755);
    ASSERT_EQ(chown(outbox.c_str(), user, user), 0);
    ASSERT_EQ(chown(temporary.c_str(), user, user), 0);
    chmod(root.c_str(), 0755);
    auto elevated = [&]()
    {
        std::filesystem::remove(outbox + "/pkexec");
        int exitStatus = -2;
        std::string errors = Run({executables + "/Uninstall"}, &exitStatus, user);
        EXPECT_EQ(exitStatus, 0);
        EXPECT_NE(errors.find("Uninstallation completed successfully."), std::string::npos) << errors;
        return ReadFile(outbox + "/pkexec");
    };
    auto command = [](const std::string& folder)
    {
        return folder + "/InstallUtility\n-uninstall\n" + folder + "/sku.xml\n" + folder +
               "/target_path.xml\n-v\n";
    };

    // Root's installation: the installed tool and data files, whatever happens to the user's copy.
    EXPECT_EQ(elevated(), command(executables));
    // The user's own installation: their copy, as before.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/Installed"))
        ASSERT_EQ(lchown(entry.path().c_str(), user, user), 0);
    std::vector<std::string> before = TemporaryEntries();
    std::string recorded = elevated();
    std::vector<std::string> after = TemporaryEntries();
    ASSERT_EQ(after.size(), before.size() + 1);
    std::string fresh;
    for (const std::string& name : after)
        if (std::find(before.begin(), before.end(), name) == before.end())
            fresh = name;
    EXPECT_EQ(recorded, command(temporary + "/" + fresh + "/Uninstall.app/Contents/MacOS"));
}

TEST_F(UninstallEndToEndTest, CopyThatFillsTheTemporaryFolderIsRemoved)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small temporary folder needs root";
    // More than the 1 MiB folder holds, whatever the size of the programs.
    WriteFile(root + "/Installed/Uninstall.app/Contents/Resources/payload", std::string(2 << 20, 'p'), 0644);
    std::string listing = root + "/listing";
    const char script[] = "mount -t tmpfs -o size=1m,mode=0755 tmpfs \"$1\" || exit 0\n"
                          "echo mounted > \"$3\"\n"
                          "\"$2\"\n"
                          "ls -A \"$1\" >> \"$3\"\n";
    int exitStatus = -2;
    std::string errors = Run({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", script,
                              "sh", temporary, executables + "/Uninstall", listing},
                             &exitStatus);
    if (ReadFile(listing).empty())
        GTEST_SKIP() << "no private mount namespace with a tmpfs here: " << errors;
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(ReadFile(listing), "mounted\n");
    EXPECT_EQ(errors,
              std::string(kConfirmation) +
                  "Unexpected Error\nAn unxpected error has occured. Restart uninstaller.\n[OK]\n-> OK\n\n");
}

TEST_F(UninstallEndToEndTest, CallerWaitsForTheWholeUninstallWhateverInterruptsIt)
{
    WriteSlowTool();
    const RunProgram::Started started = RunProgram::Start(UnattendedLaunch({executables + "/Uninstall"}));
    const pid_t child = started.pid;
    ASSERT_GT(child, 0);
    // The process the caller started is the one that runs the tool, and it is not stopped by these.
    EXPECT_TRUE(WaitForFile(root + "/tool-started", 30));
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        EXPECT_EQ(kill(child, signal), 0);
    EXPECT_EQ(RunProgram::WaitForExit(child, 30), 0);
    EXPECT_TRUE(std::filesystem::exists(root + "/tool-finished"));
    bool complete = false;
    std::string errors = RunProgram::ReadToEnd(started.captured, 10, &complete);
    close(started.captured);
    EXPECT_EQ(errors, std::string(kConfirmation) +
                          "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
}
