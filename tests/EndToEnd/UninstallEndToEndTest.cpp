#include <algorithm>
#include <cstring>
#include <iostream>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>

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

    // The real removal tool, a target folder that holds the installed bundle and two files, the
    // second made immutable. False when the file system refuses the flag.
    bool InstallWithAnImmutableFile()
    {
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility",
                                   std::filesystem::copy_options::overwrite_existing);
        WriteFile(executables + "/target_path.xml", "<targetPath path=\"" + root + "\"/>\n", 0644);
        WriteFile(
            executables + "/sku.xml",
            "<product><sku ID=\"1\" name=\"Demo 100% Product\"/><installFiles>"
            "<directory fileName=\"Installed\"><file fileName=\"Uninstall.app\"/></directory>"
            "<directory fileName=\"target\"><file fileName=\"a\"/><file fileName=\"locked\"/></directory>"
            "</installFiles></product>\n",
            0644);
        WriteFile(root + "/target/a", "a", 0644);
        WriteFile(root + "/target/locked", "locked", 0644);
        return std::system(("chattr +i '" + root + "/target/locked' 2>/dev/null").c_str()) == 0;
    }
    void Unlock() { EXPECT_EQ(std::system(("chattr -i '" + root + "/target/locked'").c_str()), 0); }

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

TEST_F(UninstallEndToEndTest, SecondPhaseRunsTheInstalledToolAndLeavesNoCopy)
{
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(errors,
              std::string(kConfirmation) +
                  "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
    EXPECT_EQ(ReadFile(record), "program=" + executables +
                                    "/InstallUtility\n"
                                    "cwd=" +
                                    root +
                                    "\n"
                                    "argc=4\n"
                                    "arg=-uninstall\n"
                                    "arg=" +
                                    executables +
                                    "/sku.xml\n"
                                    "arg=" +
                                    executables +
                                    "/target_path.xml\n"
                                    "arg=-v\n");
    // The copy went before the tool ran; the installed bundle is left for the tool to remove.
    EXPECT_TRUE(TemporaryEntries().empty());
    EXPECT_TRUE(std::filesystem::exists(executables + "/Uninstall"));
}

// Unattended, a failure names its entry and reason before the failure dialog (status 1) and keeps
// the installed uninstaller; once the cause is gone, running it again finishes the job.
TEST_F(UninstallEndToEndTest, AFailureIsNamedAndTheInstalledUninstallerRunsAgainAndFinishes)
{
    if (geteuid() != 0 || !InstallWithAnImmutableFile())
        GTEST_SKIP() << "the immutable flag needs root and a file system that takes it";
    int exitStatus = -2;
    std::string errors = RunUnattended(&exitStatus);
    Unlock();
    EXPECT_EQ(exitStatus, 1);
    EXPECT_NE(errors.find("failed " + root +
                          "/target/locked: Operation not permitted\n"
                          "kept " +
                          root +
                          "/Installed/Uninstall.app: kept so that the uninstall can be run again\n"
                          "Uninstall Demo 100% Product\n"
                          "Uninstallation failed. Some components may not have been removed."),
              std::string::npos)
        << errors;
    EXPECT_FALSE(std::filesystem::exists(root + "/target/a"));
    EXPECT_TRUE(TemporaryEntries().empty());
    ASSERT_TRUE(std::filesystem::exists(executables + "/Uninstall"));
    errors = RunUnattended(&exitStatus);
    EXPECT_EQ(exitStatus, 0) << errors;
    EXPECT_FALSE(std::filesystem::exists(root + "/target"));
    EXPECT_FALSE(std::filesystem::exists(root + "/Installed"));
    EXPECT_TRUE(TemporaryEntries().empty());
}

// Nothing runs, and the reason comes before the configuration error: a missing data file; root
// asked to run a tool others may change.
TEST_F(UninstallEndToEndTest, ConfigurationProblemsStopBeforeAnythingRuns)
{
    const std::string dialog =
        "Configuration Error\n"
        "Configuration file Uninstall.plist not found in application bundle.\n[OK]\n-> OK\n\n";
    std::filesystem::rename(executables + "/target_path.xml", root + "/target_path.xml");
    int exitStatus = -2;
    EXPECT_EQ(RunUnattended(&exitStatus), dialog);
    EXPECT_EQ(exitStatus, 2);
    std::filesystem::rename(root + "/target_path.xml", executables + "/target_path.xml");
    if (geteuid() == 0)
    {
        chmod((root + "/Installed").c_str(), 0777);
        EXPECT_EQ(Run({executables + "/Uninstall", "1"}, &exitStatus),
                  root + "/Installed is writable by group or others\n" + dialog);
        EXPECT_EQ(exitStatus, 2);
    }
    EXPECT_TRUE(TemporaryEntries().empty());
    EXPECT_FALSE(std::filesystem::exists(record));
}

// Each way an uninstall ends, as a script sees it: the exit status, the lines before the dialog
// that say what happened, and no temporary copy left behind.
TEST_F(UninstallEndToEndTest, EachOutcomeHasItsStatusAndReasons)
{
    const bool asRoot = geteuid() == 0;
    const uid_t user = 54321;
    const std::string outbox = root + "/outbox";
    std::filesystem::create_directories(outbox);
    chmod(root.c_str(), 0755);
    const std::string longName = std::string(5000, 'n');
    // A stray socket and FIFO inside the bundle are no part of the copy and stop nothing.
    const std::string socketPath = root + "/Installed/Uninstall.app/Contents/Resources/socket";
    std::filesystem::create_directories(root + "/Installed/Uninstall.app/Contents/Resources");
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(mkfifo((root + "/Installed/Uninstall.app/Contents/Resources/fifo").c_str(), 0600), 0);
    struct Case
    {
        const char* name;
        std::string toolScript;   // what the stand-in tool does; its output goes to the uninstaller
        std::string pkexecScript; // empty: a pkexec that records being called, then runs the tool
        bool asUser;              // run by another user (root's installation unless userOwned)
        bool userOwned;
        std::vector<std::string> arguments;
        const char* unattended;
        int status;
        std::vector<std::string> shown; // in this order in standard error (or output for --help)
        bool pkexecCalled;
    };
    const std::string productDialog = "Uninstall Demo 100% Product\n";
    const Case cases[] = {
        {"removed, with what was kept",
         "echo 'kept /t/Settings: marked to keep'; echo 'removed /t/a'",
         "",
         false,
         false,
         {},
         "1",
         0,
         {"kept /t/Settings: marked to keep\n" + productDialog + "Uninstallation completed successfully."},
         false},
        {"failed",
         "echo 'failed /t/locked: Operation not permitted'; echo 'removed /t/a'; exit 1",
         "",
         false,
         false,
         {},
         "1",
         1,
         {"failed /t/locked: Operation not permitted\n" + productDialog +
          "Uninstallation failed. Some components may not have been removed."},
         false},
        {"a failure line over 4 KiB is cut, not dropped",
         "echo 'failed /t/" + longName + ": Busy'; exit 1",
         "",
         false,
         false,
         {},
         "1",
         1,
         {"failed /t/" + longName.substr(0, 4086) + "\xE2\x80\xA6\n" + productDialog},
         false},
        {"refused by the tool",
         "echo 'definition.xml: more than one root element' >&2; exit 2",
         "",
         false,
         false,
         {},
         "1",
         2,
         {"definition.xml: more than one root element\n" + productDialog +
          "Uninstallation failed. Nothing was removed."},
         false},
        {"cancelled by a signal",
         "exit 4",
         "",
         false,
         false,
         {},
         "1",
         4,
         {productDialog + "Uninstallation was cancelled. Nothing was removed."},
         false},
        {"cancelled at the confirmation",
         "touch /dev/null",
         "",
         false,
         false,
         {},
         nullptr,
         4,
         {"[Cancel] [Uninstall]\n\n"},
         false},
        {"help",
         "touch /dev/null",
         "",
         false,
         false,
         {"--help"},
         "1",
         0,
         {"Usage: Uninstall", "4  cancelled"},
         false},
        {"a user's own installation needs no password",
         "echo 'removed /t/a'",
         "",
         true,
         true,
         {},
         "1",
         0,
         {"Uninstallation completed successfully."},
         false},
        {"root's installation asks pkexec",
         "echo 'removed /t/a'",
         "",
         true,
         false,
         {},
         "1",
         0,
         {"Uninstallation completed successfully."},
         true},
        {"pkexec cannot authenticate",
         "echo 'removed /t/a'",
         "echo 'Error executing command as another user: Not authorized' >&2; exit 127",
         true,
         false,
         {},
         "1",
         3,
         {"Error executing command as another user: Not authorized\n" + productDialog +
          "Administrator rights are needed"},
         false},
        {"pkexec dismissed",
         "echo 'removed /t/a'",
         "exit 126",
         true,
         false,
         {},
         "1",
         4,
         {productDialog.substr(0, 9)},
         false},
    };
    for (const Case& c : cases)
    {
        if (c.asUser && !asRoot)
            continue;
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(outbox + "/pkexec");
        WriteFile(executables + "/InstallUtility", "#!/bin/sh\n" + c.toolScript + "\n", 0755);
        WriteFile(root + "/bin/pkexec",
                  c.pkexecScript.empty() ? "#!/bin/sh\ntouch '" + outbox + "/pkexec'\nexec \"$@\"\n"
                                         : "#!/bin/sh\n" + c.pkexecScript + "\n",
                  0755);
        const uid_t owner = c.userOwned ? user : 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/Installed"))
            ASSERT_EQ(lchown(entry.path().c_str(), owner, owner), 0);
        ASSERT_EQ(lchown((root + "/Installed").c_str(), owner, owner), 0);
        ASSERT_EQ(chown(temporary.c_str(), c.asUser ? user : 0, c.asUser ? user : 0), 0);
        ASSERT_EQ(chown(outbox.c_str(), c.asUser ? user : 0, 0), 0);

        RunProgram::Launch launch = UnattendedLaunch({executables + "/Uninstall"}, c.asUser ? user : 0);
        launch.command.insert(launch.command.end(), c.arguments.begin(), c.arguments.end());
        // Without a terminal to ask at, the confirmation's default button answers: Cancel.
        launch.command.insert(launch.command.begin(), "/usr/bin/setsid");
        launch.environment =
            UninstallEnvironment({{"UNINSTALL_UNATTENDED", c.unattended}, {"DISPLAY", nullptr}});
        launch.output = RunProgram::Captured;
        const RunProgram::Outcome outcome = RunProgram::Run(launch, 60);
        EXPECT_EQ(outcome.status, c.status) << outcome.text;
        size_t from = 0;
        for (const std::string& part : c.shown)
        {
            const size_t found = outcome.text.find(part, from);
            EXPECT_NE(found, std::string::npos) << part << "\nin:\n" << outcome.text;
            from = found == std::string::npos ? from : found + part.size();
        }
        EXPECT_EQ(std::filesystem::exists(outbox + "/pkexec"), c.pkexecCalled);
        EXPECT_TRUE(TemporaryEntries().empty());
    }
    close(listening);
}

// A TMPDIR that will not do is passed over for /tmp: one others may change, one whose file system
// lets no program run (a noexec tmpfs, in a private mount namespace). The tool's parent is the
// copy, already deleted.
TEST_F(UninstallEndToEndTest, TemporaryFolderThatWillNotDoFallsBackToTmp)
{
    WriteFile(executables + "/InstallUtility",
              "#!/bin/sh\nreadlink /proc/$PPID/exe > '" + record + "'\necho 'removed /t/a'\n", 0755);
    const std::string noexec = "mount -t tmpfs -o noexec,mode=0755 tmpfs \"$1\" || exit 99\nexec \"$2\"\n";
    struct Case
    {
        const char* name;
        mode_t mode;
        std::vector<std::string> command;
    };
    const Case cases[] = {
        {"others may change it", 0777, {executables + "/Uninstall"}},
        {"noexec",
         0755,
         {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", noexec, "sh", temporary,
          executables + "/Uninstall"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(record);
        chmod(temporary.c_str(), c.mode);
        int exitStatus = -2;
        const std::string errors = Run(c.command, &exitStatus);
        if (exitStatus == 99 || (exitStatus != 0 && geteuid() != 0))
        {
            std::cout << "skipped " << c.name << ": no private mount namespace here\n";
            continue;
        }
        EXPECT_EQ(exitStatus, 0) << errors;
        EXPECT_NE(errors.find("Uninstallation completed successfully."), std::string::npos) << errors;
        EXPECT_TRUE(
            std::regex_match(ReadFile(record), std::regex("/tmp/[0-9a-f]{32}-[0-9]+/Uninstall.app/"
                                                          "Contents/MacOS/Uninstall \\(deleted\\)\n")))
            << ReadFile(record);
        EXPECT_TRUE(TemporaryEntries().empty());
    }
}

// A copy that cannot be finished (a full temporary folder: a 1 MiB tmpfs in a private mount
// namespace; a file-size limit, which must not kill the process) is said, and nothing of it is left.
TEST_F(UninstallEndToEndTest, CopyThatCannotBeFinishedIsReportedAndRemoved)
{
    // More than 1 MiB, whatever the size of the programs.
    WriteFile(root + "/Installed/Uninstall.app/Contents/Resources/payload", std::string(2 << 20, 'p'), 0644);
    const std::string full = "mount -t tmpfs -o size=1m,mode=0755 tmpfs \"$1\" || exit 99\n"
                             "\"$2\"; status=$?\nls -A \"$1\"\nexit $status\n";
    struct Case
    {
        const char* reason;
        std::vector<std::string> command;
    };
    const Case cases[] = {
        {"No space left on device",
         {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", full, "sh", temporary,
          executables + "/Uninstall"}},
        {"File too large", {"/bin/sh", "-c", "ulimit -f 1024 && exec \"$0\"", executables + "/Uninstall"}},
    };
    for (const Case& c : cases)
    {
        int exitStatus = -2;
        const std::string errors = Run(c.command, &exitStatus);
        if (exitStatus == 99)
        {
            std::cout << "skipped " << c.reason << ": no private mount namespace with a tmpfs here\n";
            continue;
        }
        EXPECT_EQ(exitStatus, 2) << c.reason;
        // ls shows the tmpfs empty after the run, so nothing is printed between the dialog and the end.
        EXPECT_EQ(errors, std::string(kConfirmation) + "could not copy the uninstaller to " + temporary +
                              ": " + c.reason +
                              "\nUnexpected Error\nAn unxpected error has occured. Restart uninstaller."
                              "\n[OK]\n-> OK\n\n");
        EXPECT_TRUE(TemporaryEntries().empty());
        EXPECT_FALSE(std::filesystem::exists(record));
    }
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
    EXPECT_EQ(errors,
              std::string(kConfirmation) +
                  "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
}
