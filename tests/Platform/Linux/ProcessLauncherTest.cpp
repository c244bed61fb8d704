#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "PlatformTestFolder.h"
#include "ProcessLauncher.h"
#include "RunProgram.h"
#include "SystemUser.h"
#include "TemporaryFolder.h"

using ProcessLauncherTest = PlatformTestFolder;

namespace
{

Vector<TqString> Command(std::initializer_list<const char*> words)
{
    Vector<TqString> command;
    for (const char* word : words)
        command.push_back(word);
    return command;
}

// Reads everything in chunks of at most chunk bytes; the largest read is kept in largest.
std::string ReadAll(ToolProcess& process, unsigned long chunk, long* largest)
{
    std::string output;
    char buffer[256];
    long got;
    *largest = 0;
    while ((got = process.Read(buffer, chunk)) > 0)
    {
        output.append(buffer, static_cast<size_t>(got));
        *largest = std::max(*largest, got);
    }
    return output;
}

// Makes this (forked) process lead a session of its own with a new pty as its controlling terminal,
// as a person at a terminal has it; returns the terminal's descriptor, or -1.
int NewSessionAtATerminal()
{
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (setsid() < 0 || terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)
        return -1;
    return open(ptsname(terminal), O_RDWR);
}

} // namespace

TEST_F(ProcessLauncherTest, ToolOutputIsReadAndStatusKept)
{
    std::string script = WriteFile(
        "tool.sh", "#!/bin/sh\nprintf '%s|' \"$@\"\nhead -c 100000 /dev/zero | tr '\\0' z\nexit 3\n", 0755);
    ToolProcess process;
    ASSERT_TRUE(process.Start(Command({script.c_str(), "-uninstall", "a b", "$HOME;x", "-v"})).IsDone());
    EXPECT_FALSE(process.Start(Command({script.c_str()})).IsDone());
    long largest = 0;
    std::string output = ReadAll(process, 64, &largest);
    EXPECT_EQ(output, "-uninstall|a b|$HOME;x|-v|" + std::string(100000, 'z'));
    EXPECT_EQ(largest, 64);
    EXPECT_EQ(process.Wait(), 3);
    EXPECT_EQ(process.Read(nullptr, 64), -1);
    EXPECT_EQ(process.Wait(), -1);

    ToolProcess succeeding;
    ASSERT_TRUE(succeeding.Start(Command({"/bin/true"})).IsDone());
    EXPECT_EQ(ReadAll(succeeding, 64, &largest), "");
    EXPECT_EQ(succeeding.Wait(), 0);
    EXPECT_EQ(succeeding.EndingSignal(), 0);

    ToolProcess killed;
    ASSERT_TRUE(killed.Start(Command({"/bin/sh", "-c", "kill -9 $$"})).IsDone());
    ReadAll(killed, 64, &largest);
    EXPECT_EQ(killed.Wait(), -1);
    EXPECT_EQ(killed.EndingSignal(), SIGKILL);
}

// A tool started without the terminal cannot open it (pkexec's own prompt then never reads a
// terminal the shell has taken back); otherwise it shares this process's terminal.
TEST_F(ProcessLauncherTest, ATerminalIsLeftBehindOnlyWhenAsked)
{
    const RunProgram::ChildOutcome child = RunProgram::RunInChild(
        [](int output)
        {
            if (NewSessionAtATerminal() < 0)
                return 1;
            std::string said;
            for (const bool without : {false, true})
            {
                ToolProcess tool;
                tool.StartWithoutTerminal(without);
                if (!tool.Start(Command({"/bin/sh", "-c",
                                         "if (: </dev/tty) 2>/dev/null; then echo has; else echo none; fi"}))
                         .IsDone())
                    return 1;
                long largest = 0;
                said += ReadAll(tool, 64, &largest);
                (void)tool.Wait();
            }
            return write(output, said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 1;
        });
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(child.text, "has\nnone\n");
}

TEST_F(ProcessLauncherTest, StartFailsForMissingOrNonExecutablePrograms)
{
    ToolProcess process;
    EXPECT_FALSE(process.Start(Command({Path("missing").c_str()})).IsDone());
    EXPECT_FALSE(process.Start(Command({WriteFile("plain.sh", "#!/bin/sh\n", 0644).c_str()})).IsDone());
    EXPECT_FALSE(process.Start(Vector<TqString>()).IsDone());
    EXPECT_EQ(process.Wait(), -1);

    Vector<TqString> arguments;
    arguments.push_back("1");
    EXPECT_FALSE(LaunchDetached(Path("missing").c_str(), arguments).IsDone());
    EXPECT_FALSE(LaunchDetached(Path("plain.sh").c_str(), arguments).IsDone());
    EXPECT_FALSE(LaunchDetached(TqString(), arguments).IsDone());
}

TEST_F(ProcessLauncherTest, DetachedLaunchPassesArgumentsAndReturnsAtOnce)
{
    // The child waits for a line on a fifo before it writes anything, so the launch can only have
    // returned while the child still waited.
    const std::string marker = Path("ran");
    const std::string go = Path("go");
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    const std::string script = WriteFile("relaunch.sh",
                                         "#!/bin/sh\nread line < \"" + go + "\"\nprintf '%s,' \"$0\" \"$@\" > \"" +
                                             marker + ".tmp\"\nmv \"" + marker + ".tmp\" \"" + marker + "\"\n",
                                         0755);
    Vector<TqString> arguments;
    arguments.push_back("1");
    ASSERT_TRUE(LaunchDetached(script.c_str(), arguments).IsDone());
    EXPECT_FALSE(std::filesystem::exists(marker));
    ASSERT_TRUE(RunProgram::WriteToFifo(go, "go\n", 10));
    EXPECT_TRUE(RunProgram::WaitUntil([&] { return std::filesystem::exists(marker); }, 10));
    EXPECT_EQ(ReadFile(marker), script + ",1,");
}

TEST_F(ProcessLauncherTest, ReplacingKeepsTheProcessAndFailsWithoutAProgram)
{
    std::string marker = Path("replaced");
    std::string script =
        WriteFile("copy.sh", "#!/bin/sh\nprintf '%s,' \"$$\" \"$0\" \"$@\" > \"" + marker + "\"\n", 0755);
    Vector<TqString> arguments;
    arguments.push_back("1");
    arguments.push_back("/Applications/A B.app");
    const RunProgram::ChildOutcome child = RunProgram::RunInChild(
        [&](int) { return ReplaceProcess(script.c_str(), arguments).IsDone() ? 98 : 99; });
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.waitStatus.has_value());
    const int status = *child.waitStatus;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ReadFile(marker), std::to_string(child.pid) + "," + script + ",1,/Applications/A B.app,");

    EXPECT_FALSE(ReplaceProcess(Path("missing").c_str(), arguments).IsDone());
    EXPECT_FALSE(ReplaceProcess(TqString(), arguments).IsDone());
}

TEST_F(ProcessLauncherTest, ShieldKeepsThisProcessButNotItsChildren)
{
    InterruptionShield shield;
    shield.Raise();
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        EXPECT_EQ(kill(getpid(), signal), 0);

    // Children may still be interrupted, and the streams are theirs: the status comes back.
    EXPECT_EQ(RunAndWait(Command({"/bin/sh", "-c", "kill -INT $$; exit 0"})), -1);
    EXPECT_EQ(RunAndWait(Command({"/bin/sh", "-c", "exit 4"})), 4);
    EXPECT_EQ(RunAndWait(Command({Path("missing").c_str()})), -1);
    ToolProcess tool;
    ASSERT_TRUE(tool.Start(Command({"/bin/sh", "-c", "kill -TERM $$; exit 0"})).IsDone());
    EXPECT_EQ(tool.Wait(), -1);
    // Nor does what this process ignores for itself (a reader that went away) pass to them.
    (void)signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(RunAndWait(Command({"/bin/sh", "-c", "kill -PIPE $$; exit 0"})), -1);
    (void)signal(SIGPIPE, SIG_DFL);

    shield.Lower();
    struct sigaction current;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

namespace
{

// What /proc says of a process: one file's text, or a folder's entries.
std::string ProcText(pid_t pid, const std::string& file)
{
    return TemporaryFolder::ReadFile("/proc/" + std::to_string(pid) + "/" + file);
}

std::string ProcLink(pid_t pid, const std::string& link)
{
    std::error_code ignored;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/" + link, ignored).string();
}

// /proc/PID/stat's fields after the command's name: state, parent, group, session, terminal, ...
std::istringstream StatFields(pid_t pid)
{
    const std::string stat = ProcText(pid, "stat");
    return std::istringstream(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
}

// The line of /proc/PID/status that starts with key, without it and without trailing blanks.
std::string StatusLine(pid_t pid, const std::string& key)
{
    std::istringstream status(ProcText(pid, "status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":\t", 0) == 0)
        {
            const std::string value = line.substr(key.size() + 2);
            return value.substr(0, value.find_last_not_of(" \t") + 1);
        }
    return "<none>";
}

} // namespace

// A child that root starts for a user sees nothing of root: not its terminal (a process in its own
// session, with a pty as controlling terminal and standard input), not its environment (a secret),
// not its descriptors (one to a root-only file, inheritable), not its folder, not its groups. An
// account-less uid gets nogroup and no other group.
TEST_F(ProcessLauncherTest, AChildStartedForAUserIsCutOffFromRoot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "starting a child as another user needs root";
    SystemUser account;
    ASSERT_TRUE(account.Make("tqpl" + std::to_string(getpid() % 100000), "/home/tqpl"));
    const struct
    {
        uid_t user;
        std::string ids, groups, home;
    } cases[] = {
        {account.uid, std::to_string(account.gid), std::to_string(account.gid), "/home/tqpl"},
        {5555, "65534", "", "/"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.user);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t starter = fork();
        if (starter == 0)
        {
            const int controlling = NewSessionAtATerminal();
            clearenv();
            setenv("SECRET", "root's token", 1);
            setenv("HOME", "/root", 1);
            setenv("LANG", "C.UTF-8", 1);
            if (controlling < 0 || dup2(controlling, STDIN_FILENO) < 0 || open("/etc/shadow", O_RDONLY) < 0 ||
                chdir("/root") != 0)
                _exit(1);
            Result<UserIdentity> known = LookUpUser(c.user);
            if (!known.IsDone())
                _exit(1);
            ToolProcess tool;
            if (!tool.Start(Command({"/usr/bin/sleep", "60"}), RunAsUser{true, known.TakeValue()}).IsDone())
                _exit(1);
            const pid_t child = tool.Pid();
            (void)!write(report[1], &child, sizeof child);
            _exit(tool.Wait() == -1 ? 0 : 1);
        }
        close(report[1]);
        pid_t child = -1;
        ASSERT_EQ(read(report[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
        close(report[0]);
        // Until it runs the program, the child still shows what it had from the fork, and until
        // it sleeps, the program may hold its locale files open for a moment.
        const auto settled = [child]
        {
            std::string state;
            return ProcLink(child, "exe") == "/usr/bin/sleep" && StatFields(child) >> state && state == "S";
        };
        RunProgram::WaitUntil(settled, 10, 10000);
        ASSERT_EQ(ProcLink(child, "exe"), "/usr/bin/sleep");
        std::string state, parent, group, session, terminal;
        StatFields(child) >> state >> parent >> group >> session >> terminal;
        EXPECT_EQ(session, std::to_string(child));
        EXPECT_EQ(terminal, "0");
        std::string descriptors;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(child) + "/fd"))
            descriptors += entry.path().filename().string() + " ";
        EXPECT_EQ(descriptors.size(), 6u) << descriptors;
        EXPECT_EQ(ProcLink(child, "fd/0"), "/dev/null");
        EXPECT_EQ(ProcLink(child, "cwd"), "/");
        std::string environment = ProcText(child, "environ");
        std::replace(environment.begin(), environment.end(), '\0', '\n');
        EXPECT_EQ(environment, "PATH=/usr/local/bin:/usr/bin:/bin\nHOME=" + c.home + "\nLANG=C.UTF-8\n");
        const auto allFour = [](const std::string& id) { return id + "\t" + id + "\t" + id + "\t" + id; };
        EXPECT_EQ(StatusLine(child, "Uid"), allFour(std::to_string(c.user))); // real, effective, saved, fs
        EXPECT_EQ(StatusLine(child, "Gid"), allFour(c.ids));
        EXPECT_EQ(StatusLine(child, "Groups"), c.groups);
        kill(child, SIGKILL);
        EXPECT_EQ(RunProgram::WaitForExit(starter, 30), 0); // it saw the tool end by the kill
    }
}

// An interruption while the tool runs, or before it starts, is passed on as a stop, also to a tool
// no signal of this process reaches (here one that ignores them all, as a tool running as root
// through pkexec is out of reach): it reads the request on its standard input.
TEST_F(ProcessLauncherTest, AnInterruptionIsPassedOnToTheToolAsAStop)
{
    for (const bool beforeStart : {false, true})
    {
        SCOPED_TRACE(beforeStart ? "before the tool starts" : "while the tool runs");
        InterruptionShield shield;
        shield.Raise();
        ASSERT_TRUE(!beforeStart || kill(getpid(), SIGTERM) == 0);
        ToolProcess tool;
        ASSERT_TRUE(tool.Start(Command({"/bin/sh", "-c",
                                        "trap '' INT QUIT TERM HUP; echo ready; read word; echo \"$word\""}))
                        .IsDone());
        char ready[6] = {};
        ASSERT_EQ(tool.Read(ready, sizeof ready), 6);
        ASSERT_TRUE(beforeStart || kill(getpid(), SIGHUP) == 0);
        long largest = 0;
        EXPECT_EQ(ReadAll(tool, 256, &largest), "stop\n");
        EXPECT_EQ(tool.Wait(), 0);
    }
}
