#include <fcntl.h>
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
    std::string RunUnattended(int* exitStatus)
    {
        int pipeEnds[2];
        EXPECT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
        std::string path = root + "/bin:" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        std::vector<std::string> environment = EnvironmentWith({{"UNINSTALL_UNATTENDED", "1"},
                                                                {"TMPDIR", temporary.c_str()},
                                                                {"PATH", path.c_str()},
                                                                {"DISPLAY", nullptr}});
        pid_t child = Spawn({executables + "/Uninstall"}, environment, root, pipeEnds[1]);
        close(pipeEnds[1]);
        EXPECT_GT(child, 0);
        bool complete = false;
        std::string text = ReadToEnd(pipeEnds[0], 120, &complete);
        close(pipeEnds[0]);
        EXPECT_TRUE(complete) << "standard error was not closed in time";
        *exitStatus = child > 0 ? WaitForExit(child, 30) : -2;
        return text;
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

TEST_F(UninstallEndToEndTest, CallerWaitsForTheWholeUninstallWhateverInterruptsIt)
{
    WriteSlowTool();
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    std::string path = root + "/bin:" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    pid_t child = Spawn({executables + "/Uninstall"},
                        EnvironmentWith({{"UNINSTALL_UNATTENDED", "1"},
                                         {"TMPDIR", temporary.c_str()},
                                         {"PATH", path.c_str()},
                                         {"DISPLAY", nullptr}}),
                        root, pipeEnds[1]);
    close(pipeEnds[1]);
    ASSERT_GT(child, 0);
    // The process the caller started is the one that runs the tool, and it is not stopped by these.
    EXPECT_TRUE(WaitForFile(root + "/tool-started", 30));
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        EXPECT_EQ(kill(child, signal), 0);
    EXPECT_EQ(WaitForExit(child, 30), 0);
    EXPECT_TRUE(std::filesystem::exists(root + "/tool-finished"));
    bool complete = false;
    std::string errors = ReadToEnd(pipeEnds[0], 10, &complete);
    close(pipeEnds[0]);
    EXPECT_EQ(errors, std::string(kConfirmation) +
                          "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
}
