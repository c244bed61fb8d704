#include <cstring>
#include <iostream>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>

#include "InstalledBundleFixture.h"
#include "Sha256.h"

namespace
{

const char kConfirmation[] = "Uninstall Demo 100% Product\n"
                             "Do you wish to remove Demo 100% Product and all related components?\n"
                             "[Cancel] [Uninstall]\n"
                             "-> Uninstall\n\n";
const char kCompleted[] =
    "Uninstall Demo 100% Product\nUninstallation completed successfully.\n[OK]\n-> OK\n\n";

class UninstallEndToEndTest : public InstalledBundleFixture
{
protected:
    // Runs command (the installed Uninstall unless given) unattended and returns its standard
    // error, which the relaunched copy and the tool share: it ends when the last of them has exited.
    std::string Run(int* exitStatus, std::vector<std::string> command = {})
    {
        if (command.empty())
            command = {executables + "/Uninstall"};
        const RunProgram::Outcome outcome = RunProgram::Run(UnattendedLaunch(command), 120);
        EXPECT_TRUE(outcome.complete) << "standard error was not closed in time";
        *exitStatus = outcome.status;
        return outcome.text;
    }
};

} // namespace

// The run before was killed outright in its copy, which left its run folder: this run, seeing that
// process gone, removes it.
TEST_F(UninstallEndToEndTest, SecondPhaseRunsTheInstalledToolAndLeavesNoCopy)
{
    AddPayload(1500);
    const RunProgram::Started killed = RunProgram::Start(UnattendedLaunch({executables + "/Uninstall"}));
    ASSERT_GT(killed.pid, 0);
    RunProgram::WaitUntil([&] { return !TemporaryEntries().empty(); }, 20, 200);
    EXPECT_EQ(kill(killed.pid, SIGKILL), 0);
    EXPECT_EQ(RunProgram::WaitForExit(killed.pid, 20), -1);
    close(killed.captured);
    ASSERT_EQ(TemporaryEntries().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(record));

    int exitStatus = -2;
    EXPECT_EQ(Run(&exitStatus), kConfirmation + std::string(kCompleted));
    EXPECT_EQ(exitStatus, 0);
    // With the digest of the definition that was confirmed, so that no other is acted on.
    const std::string definition = ReadFile(executables + "/sku.xml");
    EXPECT_EQ(ReadFile(record), "program=" + executables + "/InstallUtility\ncwd=" + root +
                                    "\nargc=6\narg=-uninstall\narg=" + executables + "/sku.xml\narg=" +
                                    executables + "/target_path.xml\narg=-v\narg=-sha256\narg=" +
                                    Sha256::Of(definition.data(), definition.size()) + "\n");
    // The copy went before the tool ran; the installed bundle is left for the tool to remove.
    EXPECT_TRUE(TemporaryEntries().empty());
    EXPECT_TRUE(std::filesystem::exists(executables + "/Uninstall"));
}

// Each way an uninstall ends, as a script sees it: the exit status, the lines before the dialog
// that say what happened, what ran, and no temporary copy left behind.
TEST_F(UninstallEndToEndTest, EachOutcomeHasItsStatusAndReasons)
{
    const bool asRoot = geteuid() == 0;
    const uid_t user = 54321;
    const std::string outbox = root + "/outbox";
    std::filesystem::create_directories(outbox);
    chmod(root.c_str(), 0755);
    // A stray socket and FIFO inside the bundle are no part of the copy and stop nothing.
    const std::string resources = root + "/Installed/Uninstall.app/Contents/Resources";
    std::filesystem::create_directories(resources);
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    ASSERT_LT((resources + "/socket").size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, (resources + "/socket").c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(mkfifo((resources + "/fifo").c_str(), 0600), 0);
    enum Who
    {
        Root,         // root runs root's installation
        User,         // another user runs root's installation
        UsersOwn,     // a user runs the user's own installation
        OpenToOthers, // root runs an installation whose folder others may change
        RootOnUsers,  // root runs a user's installation: nothing of it is copied or run
    };
    struct Case
    {
        const char* name;
        std::string toolScript;   // what the stand-in tool does; its output goes to the uninstaller
        const char* pkexecScript; // nullptr: the stand-in pkexec runs the tool
        Who who;
        const char* argument;
        const char* unattended;
        int status;
        std::string shown;       // in standard error (or output for --help)
        const char* ran;         // what the stand-ins logged, in order
        bool readerGone = false; // standard error is a pipe nobody reads any more (| head -1)
    };
    const std::string product = "Uninstall Demo 100% Product\n";
    const std::string completed = product + "Uninstallation completed successfully.";
    const Case cases[] = {
        {"removed, with what was kept", "echo 'kept /t/Settings: marked to keep'; echo 'removed /t/a'",
         nullptr, Root, nullptr, "1", 0, "kept /t/Settings: marked to keep\n" + completed, "tool\n"},
        {"failed", "echo 'failed /t/locked: Operation not permitted'; echo 'removed /t/a'; exit 1", nullptr,
         Root, nullptr, "1", 1,
         "failed /t/locked: Operation not permitted\n" + product +
             "Uninstallation failed. Some components may not have been removed.",
         "tool\n"},
        {"refused by the tool", "echo 'definition.xml: more than one root element' >&2; exit 2", nullptr,
         Root, nullptr, "1", 2,
         "definition.xml: more than one root element\n" + product +
             "Uninstallation failed. Nothing was removed.",
         "tool\n"},
        {"cancelled by a signal", "exit 4", nullptr, Root, nullptr, "1", 4,
         product + "Uninstallation was cancelled. Nothing was removed.", "tool\n"},
        // Without a terminal to ask at, the confirmation's default button answers: Cancel.
        {"cancelled at the confirmation", "", nullptr, Root, nullptr, nullptr, 4, "[Cancel] [Uninstall]\n\n",
         ""},
        {"help", "", nullptr, Root, "--help", "1", 0, "Usage: Uninstall", ""},
        {"a dry run", "[ \"$5\" = -n ] && echo 'would remove /t/a'", nullptr, Root, "--dry-run", "1", 0,
         "would remove /t/a\n" + product + "Dry run: the uninstallation would succeed. Nothing was removed.",
         "tool\n"},
        {"an installation others may change", "", nullptr, OpenToOthers, nullptr, "1", 2,
         "refusing to run as root: " + root + "/Installed is writable by group or others\n" +
             "Uninstall this product\nUninstallation failed. Nothing was removed.",
         ""},
        {"root on a user's installation", "", nullptr, RootOnUsers, nullptr, "1", 2,
         "refusing to run as root: this installation is controlled by uid 54321 (#54321), not by root "
         "alone, and root does not copy or run a user's installation; run it as that user: sudo -u "
         "'#54321' '" + executables + "/Uninstall'\n",
         ""},
        {"a user's own installation needs no password", "echo 'removed /t/a'", nullptr, UsersOwn, nullptr,
         "1", 0, completed, "tool\n"},
        {"root's installation asks pkexec", "echo 'removed /t/a'", nullptr, User, nullptr, "1", 0, completed,
         "pkexec\ntool\n"},
        {"a polkit rule answers no", "echo 'removed /t/a'",
         "printf 'Error executing command as another user: Not authorized\\n\\nThis incident has been "
         "reported.\\n' >&2; exit 127",
         User, nullptr, "1", 3,
         "Error executing command as another user: Not authorized\nThis incident has been reported.\n" +
             product +
             "Administrator rights are needed to remove Demo 100% Product, and they could not be "
             "obtained. The system's policy does not allow you to remove it: ask an administrator to remove "
             "it.",
         "pkexec\n"},
        {"pkexec dismissed", "echo 'removed /t/a'", "exit 126", User, nullptr, "1", 4, kConfirmation,
         "pkexec\n"},
        // Every dialog and line written to a closed pipe: the status still says what the removal did.
        {"the reader went away", "echo 'failed /t/locked: Operation not permitted'; exit 1", nullptr, Root,
         nullptr, "1", 1, "", "tool\n", true},
    };
    for (const Case& c : cases)
    {
        if (c.who != Root && !asRoot)
            continue;
        SCOPED_TRACE(c.name);
        const std::string log = " >> '" + outbox + "/log'\n";
        std::filesystem::remove(outbox + "/log");
        WriteFile(executables + "/InstallUtility", "#!/bin/sh\necho tool" + log + c.toolScript + "\n", 0755);
        WriteFile(root + "/bin/pkexec",
                  "#!/bin/sh\necho pkexec" + log + (c.pkexecScript ? c.pkexecScript : "exec \"$@\"") + "\n",
                  0755);
        const uid_t owner = c.who == UsersOwn || c.who == RootOnUsers ? user : 0;
        const uid_t runner = c.who == User || c.who == UsersOwn ? user : 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root + "/Installed"))
            ASSERT_EQ(lchown(entry.path().c_str(), owner, owner), 0);
        ASSERT_EQ(lchown((root + "/Installed").c_str(), owner, owner), 0);
        ASSERT_EQ(chmod((root + "/Installed").c_str(), c.who == OpenToOthers ? 0777 : 0755), 0);
        ASSERT_EQ(chown(temporary.c_str(), runner, runner), 0);
        ASSERT_EQ(chown(outbox.c_str(), runner, 0), 0);

        RunProgram::Launch launch = UnattendedLaunch({"/usr/bin/setsid", executables + "/Uninstall"});
        if (c.argument)
            launch.command.push_back(c.argument);
        if (runner != 0)
            launch.user = runner;
        launch.environment =
            UninstallEnvironment({{"UNINSTALL_UNATTENDED", c.unattended}, {"DISPLAY", nullptr}});
        launch.output = RunProgram::Captured;
        int closedPipe[2] = {-1, -1};
        if (c.readerGone)
        {
            ASSERT_EQ(pipe2(closedPipe, O_CLOEXEC), 0);
            close(closedPipe[0]);
            launch.errors = closedPipe[1];
        }
        const RunProgram::Outcome outcome = RunProgram::Run(launch, 60);
        if (c.readerGone)
            close(closedPipe[1]);
        EXPECT_EQ(outcome.status, c.status) << outcome.text;
        EXPECT_NE(outcome.text.find(c.shown), std::string::npos) << c.shown << "\nin:\n" << outcome.text;
        EXPECT_EQ(ReadFile(outbox + "/log"), c.ran);
        EXPECT_TRUE(TemporaryEntries().empty());
    }
    close(listening);
}

// A TMPDIR whose file system lets no program run (a noexec tmpfs, in a private mount namespace) is
// passed over for /tmp. The tool's parent is the copy, already deleted.
TEST_F(UninstallEndToEndTest, NoexecTemporaryFolderFallsBackToTmp)
{
    WriteFile(executables + "/InstallUtility",
              "#!/bin/sh\nreadlink /proc/$PPID/exe > '" + record + "'\necho 'removed /t/a'\n", 0755);
    const std::string noexec = "mount -t tmpfs -o noexec,mode=0755 tmpfs \"$1\" || exit 99\nexec \"$2\"\n";
    int exitStatus = -2;
    const std::string errors =
        Run(&exitStatus, {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", noexec, "sh",
                          temporary, executables + "/Uninstall"});
    if (exitStatus == 99 || (exitStatus != 0 && geteuid() != 0))
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(exitStatus, 0) << errors;
    EXPECT_NE(errors.find("Uninstallation completed successfully."), std::string::npos) << errors;
    EXPECT_TRUE(std::regex_match(ReadFile(record), std::regex("/tmp/[0-9a-f]{32}-[0-9]+/Uninstall.app/"
                                                              "Contents/MacOS/Uninstall \\(deleted\\)\n")))
        << ReadFile(record);
}

// A copy that cannot be finished (a file-size limit, which must not kill the process; too few
// descriptors) is said, and nothing of it is left.
TEST_F(UninstallEndToEndTest, CopyThatCannotBeFinishedIsReportedAndRemoved)
{
    // More than the limit, whatever the size of the programs.
    WriteFile(root + "/Installed/Uninstall.app/Contents/Resources/payload", std::string(2 << 20, 'p'), 0644);
    const struct
    {
        const char* limit;
        const char* reason;
    } cases[] = {{"ulimit -f 1024", "File too large"}, {"ulimit -n 8", "Too many open files"}};
    for (const auto& row : cases)
    {
        int exitStatus = -2;
        const std::string errors =
            Run(&exitStatus,
                {"/bin/sh", "-c", std::string(row.limit) + " && exec \"$0\"", executables + "/Uninstall"});
        EXPECT_EQ(exitStatus, 2) << row.limit;
        EXPECT_EQ(errors, std::string(kConfirmation) + "could not copy the uninstaller to " + temporary +
                              ": " + row.reason +
                              "\nUnexpected Error\nAn unxpected error has occured. Restart "
                              "uninstaller.\n[OK]\n-> OK\n\n");
        EXPECT_TRUE(TemporaryEntries().empty()) << row.limit;
        EXPECT_FALSE(std::filesystem::exists(record)) << row.limit;
    }
}

// The process the caller started is the one that runs the tool, and these do not stop it.
TEST_F(UninstallEndToEndTest, CallerWaitsForTheWholeUninstallWhateverInterruptsIt)
{
    WriteSlowTool();
    const RunProgram::Started started = RunProgram::Start(UnattendedLaunch({executables + "/Uninstall"}));
    ASSERT_GT(started.pid, 0);
    EXPECT_TRUE(RunProgram::WaitUntil([&] { return std::filesystem::exists(root + "/tool-started"); }, 30));
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        EXPECT_EQ(kill(started.pid, signal), 0);
    // The tool may finish once the uninstaller has taken all three.
    EXPECT_TRUE(RunProgram::WaitUntil([&] { return NoSignalPending(started.pid); }, 20));
    ReleaseSlowTool();
    EXPECT_EQ(RunProgram::WaitForExit(started.pid, 30), 0);
    EXPECT_TRUE(std::filesystem::exists(root + "/tool-finished"));
    bool complete = false;
    EXPECT_EQ(RunProgram::ReadToEnd(started.captured, 10, &complete),
              kConfirmation + std::string(kCompleted));
    close(started.captured);
}
