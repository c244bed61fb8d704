#include "InstalledBundleFixture.h"
#include "SystemUser.h"

namespace
{

const char kPassword[] = "Tq-pw-5813zx";
const char kPrompt[] = "tq-shell$ ";
const char kNoRights[] =
    "Administrator rights are needed to remove Demo 100% Product, and they could not be obtained.";

class UninstallTerminalTest : public InstalledBundleFixture
{
protected:
    // An interactive bash on the terminal as uid/gid (unchanged when uid is the test's own).
    bool StartShell(TerminalSession& terminal, uid_t runAs, gid_t groupAs, const std::string& path) const
    {
        RunProgram::Launch launch;
        launch.command = {"/bin/bash", "--norc", "--noprofile", "--noediting", "-i"};
        launch.environment = {
            "PATH=" + path, "HOME=" + root,        "TERM=dumb", std::string("PS1=") + kPrompt,
            "HISTFILE=",    "TMPDIR=" + temporary, "LANG=C"};
        launch.folder = root;
        if (runAs != getuid())
        {
            launch.user = runAs;
            launch.group = groupAs;
        }
        return terminal.Start(launch) && terminal.Expect(kPrompt);
    }

    // Runs one command line at the shell and waits until it asks again.
    static bool AtShell(TerminalSession& terminal, const std::string& commandLine)
    {
        terminal.Type(commandLine + "\n");
        return terminal.Expect(kPrompt);
    }

    // Answers the closing dialog with key and, back at the shell, checks the status Uninstall ended with.
    static bool ClosesWithStatus(TerminalSession& terminal, const std::string& key, int status)
    {
        if (!terminal.Expect("Press Enter "))
            return false;
        terminal.Type(key);
        return terminal.Expect(kPrompt) && AtShell(terminal, "echo status=$?") &&
               terminal.transcript.rfind("status=" + std::to_string(status) + "\r\n") != std::string::npos;
    }

    // The test's own user at an interactive shell on the terminal, the product installed; skipped
    // where no such user can be made.
    void StartUserShell(TerminalSession& terminal)
    {
        CreateUser();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_NO_FATAL_FAILURE(InstallProduct());
        ASSERT_TRUE(StartShell(terminal, uid, gid, root + "/userbin"));
    }

    // Starts Uninstall by the command line at the shell and confirms it.
    static void StartAndConfirm(TerminalSession& terminal, const std::string& command)
    {
        terminal.Type(command + "\n");
        ASSERT_TRUE(terminal.Expect("Choose 1-2 [1]: ")) << terminal.transcript;
        terminal.Type("2\n");
    }

    // Creates a non-root user with a password, allowed everything through sudo (asked once), and
    // makes the installed bundle reachable for it and its temporary folder its own. Root only.
    void CreateUser()
    {
        if (const std::string why = SystemUser::WhyNoUsersWithSudo(); !why.empty())
            GTEST_SKIP() << why;
        if (!account.name.empty())
            return;
        ASSERT_TRUE(account.Make("tqterm" + std::to_string(getpid() % 100000), root, "/bin/bash"));
        user = account.name;
        uid = account.uid;
        gid = account.gid;
        sudoers = "/etc/sudoers.d/" + user;
        ASSERT_EQ(std::system(("echo '" + user + ":" + kPassword + "' | /usr/sbin/chpasswd").c_str()), 0);
        WriteFile(sudoers, user + " ALL=(ALL:ALL) ALL\nDefaults:" + user + " passwd_tries=1, lecture=never\n",
                  0440);
        ASSERT_EQ(chmod(root.c_str(), 0755), 0);
        ASSERT_EQ(chown(temporary.c_str(), uid, gid), 0);
        ASSERT_EQ(chmod(temporary.c_str(), 0700), 0);
        // Only sudo is on the session's PATH: no pkexec, whatever the machine has.
        std::filesystem::create_directories(root + "/userbin");
        std::filesystem::create_symlink("/usr/bin/sudo", root + "/userbin/sudo");
    }

    void TearDown() override
    {
        if (!account.name.empty())
        {
            std::filesystem::remove(sudoers);
            std::filesystem::remove_all("/run/sudo/ts/" + user);
        }
        InstalledBundleFixture::TearDown();
    }

    // The real removal tool and a product it removes: a folder only root may empty, inside a
    // target folder that belongs to the user.
    void InstallProduct()
    {
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility",
                                   std::filesystem::copy_options::overwrite_existing);
        WriteFile(executables + "/sku.xml",
                  "<product><sku ID=\"1\" name=\"Demo 100% Product\"/><installFiles>"
                  "<directory fileName=\"Demo\"><file fileName=\"Demo.app\"/><file fileName=\"ReadMe.txt\"/>"
                  "</directory></installFiles></product>\n",
                  0644);
        WriteFile(root + "/target/Demo/Demo.app/Contents/Info.plist", "<plist/>\n", 0644);
        WriteFile(root + "/target/Demo/ReadMe.txt", "read me\n", 0644);
        ASSERT_EQ(chown((root + "/target").c_str(), uid, gid), 0);
    }

    // Whether a sudo runs for the user (its real uid the user's).
    bool UserHasSudo() const
    {
        RunProgram::Launch launch;
        launch.command = {"/usr/bin/pgrep", "-x", "-U", std::to_string(uid), "sudo"};
        launch.output = RunProgram::DevNull;
        return RunProgram::Run(launch, 20).status == 0;
    }

    SystemUser account; // removed when the test ends
    std::string user;
    std::string sudoers;
    uid_t uid = 0;
    gid_t gid = 0;
};

} // namespace

// At sudo's prompt on the user's shell (there is no pkexec, or pkexec cannot authenticate: no
// agent, no session, so it ends 127 and the uninstall goes on with sudo) the password removes the
// product and never shows. Ctrl-C there, or SIGTERM to Uninstall itself, is a cancel said in words:
// nothing removed. Either way sudo goes with the run and the shell has the terminal again.
TEST_F(UninstallTerminalTest, AtSudosPromptThePasswordRemovesAndAnInterruptionCancels)
{
    const std::string noSession = ": > \"$TMPDIR/pkexec-ran\"\necho 'Error executing command as another "
                                  "user: No session for cookie' >&2\nexit 127";
    const struct
    {
        std::string pkexec;
        const char* typed; // SIGTERM to Uninstall when null
        int status;
    } rows[] = {{"", "\x03", 4}, {"", nullptr, 4}, {"", kPassword, 0}, {noSession, kPassword, 0}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.pkexec + (row.typed ? row.typed : "SIGTERM"));
        TerminalSession terminal;
        ASSERT_NO_FATAL_FAILURE(StartUserShell(terminal));
        if (IsSkipped())
            return;
        std::filesystem::remove(root + "/userbin/pkexec");
        if (!row.pkexec.empty())
            WriteFile(root + "/userbin/pkexec", "#!/bin/sh\n" + row.pkexec + "\n", 0755);
        const std::string pidFile = temporary + "/uninstall.pid";
        ASSERT_NO_FATAL_FAILURE(
            StartAndConfirm(terminal, "/bin/sh -c 'echo $$ > " + pidFile + "; exec " + executables + "/Uninstall'"));
        ASSERT_TRUE(terminal.Expect("[sudo] password for " + user)) << terminal.transcript;
        ASSERT_TRUE(UserHasSudo());
        if (row.typed != nullptr)
            terminal.Type(row.typed + std::string(row.status == 0 ? "\n" : ""));
        else
            ASSERT_EQ(kill(static_cast<pid_t>(std::stol(ReadFile(pidFile))), SIGTERM), 0);
        EXPECT_TRUE(terminal.Expect(row.status == 0 ? "Uninstallation completed successfully."
                                                    : "Uninstallation was cancelled. Nothing was removed."))
            << terminal.transcript;
        EXPECT_TRUE(ClosesWithStatus(terminal, "\n", row.status)) << terminal.transcript;
        EXPECT_TRUE(RunProgram::WaitUntil([&] { return !UserHasSudo(); }, 20))
            << "sudo is still asking after the run ended";

        EXPECT_EQ(std::filesystem::exists(root + "/target/Demo/ReadMe.txt"), row.status != 0);
        EXPECT_EQ(std::filesystem::exists(root + "/target/Demo"), row.status != 0);
        EXPECT_TRUE(std::filesystem::exists(root + "/target"));
        EXPECT_EQ(terminal.transcript.find(kPassword), std::string::npos) << terminal.transcript;
        EXPECT_EQ(std::filesystem::exists(temporary + "/pkexec-ran"), !row.pkexec.empty()) << terminal.transcript;
        std::filesystem::remove_all("/run/sudo/ts/" + user); // sudo asks again next round
    }
}

TEST_F(UninstallTerminalTest, RightsThatCannotBeHadAreSaid)
{
    TerminalSession terminal;
    ASSERT_NO_FATAL_FAILURE(StartUserShell(terminal));
    if (IsSkipped())
        return;
    // sudo refuses a wrong password.
    ASSERT_NO_FATAL_FAILURE(StartAndConfirm(terminal, executables + "/Uninstall"));
    ASSERT_TRUE(terminal.Expect("[sudo] password for " + user)) << terminal.transcript;
    terminal.Type("wrong\n");
    EXPECT_TRUE(terminal.Expect(kNoRights)) << terminal.transcript;
    EXPECT_TRUE(AtShell(terminal, ""));

    // sudo, but no terminal to ask on, or one whose foreground is another's: the dialog goes to
    // standard error in its fixed form.
    const std::string errors = temporary + "/errors.txt";
    const std::string program = executables + "/Uninstall </dev/null 2>" + errors;
    for (const std::string& commandLine : {"/usr/bin/setsid -w " + program, program + " & wait"})
    {
        std::filesystem::remove(errors);
        EXPECT_TRUE(AtShell(terminal, "UNINSTALL_UNATTENDED=1 " + commandLine)) << terminal.transcript;
        EXPECT_EQ(ReadFile(errors),
                  "Uninstall Demo 100% Product\n"
                  "Do you wish to remove Demo 100% Product and all related components?\n"
                  "[Cancel] [Uninstall]\n-> Uninstall\n\n"
                  "pkexec is not on PATH, and sudo can ask for a password only at a terminal "
                  "where the uninstaller runs in the foreground\nUninstall Demo 100% Product\n" +
                      std::string(kNoRights) + "\n[OK]\n-> OK\n\n")
            << commandLine;
    }
    EXPECT_TRUE(std::filesystem::exists(root + "/target/Demo/ReadMe.txt"));
}

// Ctrl-C while the tool removes a large product stops it after the entry under way: what it says
// stays is what is there, the status is 4, and running the uninstaller again finishes the job.
TEST_F(UninstallTerminalTest, CtrlCWhileTheToolRemovesStopsItAndARunAgainFinishes)
{
    ASSERT_NO_FATAL_FAILURE(InstallLargeProduct(8, 100000));
    TerminalSession terminal;
    ASSERT_TRUE(StartShell(terminal, getuid(), getgid(), root + "/bin:/usr/bin:/bin"));
    ASSERT_NO_FATAL_FAILURE(StartAndConfirm(terminal, executables + "/Uninstall"));
    const pid_t tool = WaitForTool(20);
    ASSERT_GT(tool, 0) << terminal.transcript;
    ASSERT_TRUE(PauseToolOnceGone(tool, root + "/target/Big-0.bundle", 20)) << terminal.transcript;
    terminal.Type("\x03");
    ASSERT_TRUE(ResumeToolOnceAskedToStop(tool, 20)) << terminal.transcript;
    ASSERT_TRUE(terminal.Expect("Uninstallation was cancelled. ")) << terminal.transcript;
    ASSERT_TRUE(terminal.Expect(" removed; run the uninstaller again to finish.")) << terminal.transcript;
    const std::vector<std::string> stays = SaidToStay(terminal.transcript);
    EXPECT_FALSE(stays.empty()) << terminal.transcript;
    EXPECT_EQ(TargetEntries(), stays);
    // Ctrl-C at the dialog closes it as Enter would: the shell is back, and the status is the removal's.
    ASSERT_TRUE(ClosesWithStatus(terminal, "\x03", 4)) << terminal.transcript;

    ASSERT_NO_FATAL_FAILURE(StartAndConfirm(terminal, executables + "/Uninstall"));
    ASSERT_TRUE(terminal.Expect("Uninstallation completed successfully.", 60)) << terminal.transcript;
    EXPECT_TRUE(ClosesWithStatus(terminal, "\n", 0)) << terminal.transcript;
    EXPECT_TRUE(TargetEntries().empty());
}

// What the first phase copies and starts is the program that runs, not what has been put at its
// name in the bundle while the confirmation waited.
TEST_F(UninstallTerminalTest, TheCopyRunsTheRunningProgramNotWhatWasPutAtItsName)
{
    TerminalSession terminal;
    ASSERT_TRUE(StartShell(terminal, getuid(), getgid(), root + "/bin:/usr/bin:/bin"));
    terminal.Type(executables + "/Uninstall\n");
    ASSERT_TRUE(terminal.Expect("Choose 1-2 [1]: ")) << terminal.transcript;
    WriteFile(root + "/swapped", "#!/bin/sh\ntouch '" + root + "/swapped-ran'\n", 0755);
    ASSERT_EQ(rename((root + "/swapped").c_str(), (executables + "/Uninstall").c_str()), 0);
    terminal.Type("2\n");
    ASSERT_TRUE(terminal.Expect("Uninstallation completed successfully.")) << terminal.transcript;
    EXPECT_TRUE(ClosesWithStatus(terminal, "\n", 0)) << terminal.transcript;
    EXPECT_FALSE(std::filesystem::exists(root + "/swapped-ran"));
    EXPECT_TRUE(std::filesystem::exists(record));
    EXPECT_TRUE(TemporaryEntries().empty());
}

// An interruption at each step of the first phase, to the process or to its group, cancels the
// run: nothing is removed, no tool runs, and no run folder is left. At the relaunch the signal
// meets the first phase, which says so and exits 4, or the copy, which takes it once it has
// removed its folder.
TEST_F(UninstallTerminalTest, StopAtEachStepOfTheFirstPhaseLeavesNoRunFolder)
{
    enum Step
    {
        Confirm,
        Copy,
        Relaunch
    };
    struct Case
    {
        Step step;
        int signal;
        bool toGroup;
    };
    const Case cases[] = {
        {Confirm, SIGINT, true},  {Confirm, SIGQUIT, true}, {Relaunch, SIGTERM, false},
        {Relaunch, SIGINT, true}, {Copy, SIGTERM, false},   {Copy, SIGHUP, true},
        {Copy, SIGQUIT, false},   {Copy, SIGINT, true},
    };
    const std::string cancelled = "Uninstallation was cancelled. Nothing was removed.";
    for (const Case& row : cases)
    {
        SCOPED_TRACE(std::string(strsignal(row.signal)) + (row.toGroup ? " to the group" : "") + " at step " +
                     std::to_string(row.step));
        if (row.step == Copy && !std::filesystem::exists(PayloadFolder()))
            AddPayload(1500);
        if (row.step == Confirm)
        {
            TerminalSession terminal;
            ASSERT_TRUE(StartShell(terminal, getuid(), getgid(), root + "/bin:/usr/bin:/bin"));
            terminal.Type(executables + "/Uninstall\n");
            ASSERT_TRUE(terminal.Expect("Choose 1-2 [1]: ")) << terminal.transcript;
            terminal.Type(row.signal == SIGINT ? "\x03" : "\x1c");
            EXPECT_TRUE(terminal.Expect(cancelled)) << terminal.transcript;
            EXPECT_TRUE(ClosesWithStatus(terminal, "\n", 4)) << terminal.transcript;
        }
        else
        {
            RunProgram::Launch launch = UnattendedLaunch({executables + "/Uninstall"});
            launch.ownGroup = true;
            const RunProgram::Started started = RunProgram::Start(launch);
            ASSERT_GT(started.pid, 0);
            // The copy has begun; at the relaunch, the program it runs is written whole.
            const auto copied = [&]
            {
                const std::vector<std::string> runs = TemporaryEntries();
                if (row.step == Copy || runs.empty())
                    return !runs.empty();
                std::error_code unknown;
                const std::string program =
                    temporary + "/" + runs[0] + "/Uninstall.app/Contents/MacOS/Uninstall";
                return std::filesystem::file_size(program, unknown) ==
                       std::filesystem::file_size(UNINSTALL_EXECUTABLE);
            };
            RunProgram::WaitUntil(copied, 20, 200);
            ASSERT_EQ(kill(started.pid, SIGSTOP), 0);
            int waitStatus = 0;
            ASSERT_EQ(waitpid(started.pid, &waitStatus, WUNTRACED), started.pid);
            // Relaunched, or about to be: the first phase holds the stop signals back across the
            // exec, and then the copy is the one that takes this one.
            const std::string proc = "/proc/" + std::to_string(started.pid);
            const std::string status = ReadFile(proc + "/status");
            const size_t blocked = status.find("\nSigBlk:\t");
            const bool held = blocked != std::string::npos &&
                              (std::stoull(status.substr(blocked + 9, 16), nullptr, 16) &
                               (1ULL << (row.signal - 1))) != 0;
            const bool relaunched =
                held || std::filesystem::read_symlink(proc + "/exe").string().rfind(temporary, 0) == 0;
            EXPECT_EQ(kill(row.toGroup ? -started.pid : started.pid, row.signal), 0);
            EXPECT_EQ(kill(started.pid, SIGCONT), 0);
            const std::optional<int> ended = RunProgram::WaitForStatus(started.pid, 30);
            bool complete = false;
            const std::string errors = RunProgram::ReadToEnd(started.captured, 10, &complete);
            close(started.captured);
            ASSERT_TRUE(ended.has_value());
            if (relaunched)
                EXPECT_TRUE(WIFSIGNALED(*ended) && WTERMSIG(*ended) == row.signal) << errors;
            else
            {
                EXPECT_TRUE(WIFEXITED(*ended) && WEXITSTATUS(*ended) == 4) << errors;
                EXPECT_NE(errors.find(cancelled), std::string::npos) << errors;
            }
        }
        EXPECT_TRUE(TemporaryEntries().empty());
        EXPECT_FALSE(std::filesystem::exists(record));
    }
}
