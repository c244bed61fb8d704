// A user's uninstall of a root-owned installation, elevated by the real pkexec. The system bus and
// polkitd are started here when they are not running; a polkit rule lets this test's user (and no
// one else) run programs as root without an agent; fanotify shows who executed the installed tool.
// Needs root and pkexec, polkitd and dbus (scripts/deps installs them); skips itself without them.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "InstalledBundleFixture.h"
#include "RunProgram.h"
#include "SystemUser.h"
#include "TemporaryFolder.h"

namespace
{

const char* const kPkexec = "/usr/bin/pkexec";
const char* const kPolkitd = "/usr/lib/polkit-1/polkitd";
const char* const kBusDaemon = "/usr/bin/dbus-daemon";
const char* const kBusSend = "/usr/bin/dbus-send";
const char* const kBusFolder = "/run/dbus";
// What a system bus leaves behind, which would stop the next one from starting.
const char* const kBusLeftovers[] = {"/run/dbus/system_bus_socket", "/run/dbus/pid"};

// -1 when the system bus does not answer, else whether polkitd holds its name on it.
int PolkitOnTheBus()
{
    RunProgram::Launch launch;
    launch.command = {kBusSend, "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/"};
    launch.command.insert(launch.command.end(),
                          {"org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.PolicyKit1"});
    launch.output = launch.errors = RunProgram::Captured;
    const RunProgram::Outcome answer = RunProgram::Run(launch, 20);
    return answer.status != 0 ? -1 : answer.text.find("boolean true") != std::string::npos;
}

// Waits up to seconds for condition, looking every 100 ms.
template <typename Condition> bool WaitFor(Condition condition, int seconds)
{
    for (int tries = seconds * 10; !condition(); --tries, usleep(100000))
        if (tries <= 0)
            return false;
    return true;
}

// Lets the held-up executions go on, each noted as "UIDS|COMMAND LINE" of the executing process.
void AllowExecutions(int events, std::vector<std::string>& seen)
{
    alignas(fanotify_event_metadata) char buffer[4096];
    const ssize_t got = read(events, buffer, sizeof buffer);
    auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
    for (ssize_t left = got; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left))
    {
        const FileDescriptor opened(event->fd);
        const std::string process = "/proc/" + std::to_string(event->pid);
        const std::string status = TemporaryFolder::ReadFile(process + "/status");
        const size_t uids = status.find("\nUid:\t") + 6; // real, effective, saved and file-system
        std::string words = TemporaryFolder::ReadFile(process + "/cmdline");
        std::replace(words.begin(), words.end(), '\0', ' ');
        seen.push_back(status.substr(uids, status.find('\n', uids) - uids) + "|" + words);
        const fanotify_response allow = {event->fd, FAN_ALLOW};
        EXPECT_EQ(write(events, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow))
            << std::strerror(errno);
    }
}

class UninstallRealPkexecTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: it makes a user, writes a polkit rule and starts polkitd";
        for (const char* program : {kPkexec, kPolkitd, kBusDaemon, kBusSend})
            if (access(program, X_OK) != 0)
                GTEST_SKIP() << program << " is missing: install pkexec, polkitd and dbus (scripts/deps)";
        ASSERT_FALSE(folder.path().empty()) << folder.why();
        // Another build's run of this test would stop the services under this one.
        ASSERT_EQ(flock(turn.Get(), LOCK_EX), 0) << std::strerror(errno);

        ASSERT_TRUE(account.Make("tqpkexec" + std::to_string(getpid() % 100000), "/nonexistent", "/bin/sh"));
        user = account.name;
        uid = account.uid;
        gid = account.gid;
        const std::string grant = R"(polkit.addRule(function(action, subject) {
  if (action.id == "org.freedesktop.policykit.exec" && subject.user == ")" +
                                  user + R"(")
    return polkit.Result.YES;
});
)";
        rule = TemporaryFolder::WriteFile("/etc/polkit-1/rules.d/10-" + user + ".rules", grant);

        // The bundle installed as root, for a product that only root may remove; the user's own
        // folder is its home and temporary folder.
        ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
        std::filesystem::create_directories(executables);
        std::filesystem::copy_file(UNINSTALL_EXECUTABLE, executables + "/Uninstall");
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility");
        TemporaryFolder::WriteFile(
            executables + "/sku.xml",
            "<product><sku ID=\"1\" name=\"Root Product\"/><installFiles>"
            "<directory fileName=\"Library\"><file fileName=\"Root Only.txt\"/></directory>"
            "</installFiles></product>\n");
        TemporaryFolder::WriteFile(executables + "/target_path.xml",
                                   "<targetPath path=\"" + target + "\"/>\n");
        TemporaryFolder::WriteFile(target + "/Library/Root Only.txt", "only root may remove this\n");
        std::filesystem::create_directories(home);
        ASSERT_EQ(chown(home.c_str(), uid, gid), 0);
        ASSERT_EQ(chmod(home.c_str(), 0700), 0);

        // The system bus and polkitd, each started here only when none is running.
        const FileDescriptor log(open(servicesLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        RunProgram::Launch launch;
        launch.output = launch.errors = log.Get();
        if (PolkitOnTheBus() < 0)
        {
            std::error_code ignored;
            madeBusFolder = std::filesystem::create_directories(kBusFolder, ignored);
            for (const char* leftover : kBusLeftovers)
                std::filesystem::remove(leftover, ignored);
            launch.command = {kBusDaemon, "--system", "--nofork"};
            busDaemon = RunProgram::Start(launch).pid;
            ASSERT_GT(busDaemon, 0);
            ASSERT_TRUE(WaitFor([] { return PolkitOnTheBus() >= 0; }, 10))
                << "the system bus does not answer: " << TemporaryFolder::ReadFile(servicesLog);
        }
        if (PolkitOnTheBus() != 1)
        {
            launch.command = {kPolkitd, "--no-debug"};
            polkitd = RunProgram::Start(launch).pid;
            ASSERT_GT(polkitd, 0);
            ASSERT_TRUE(WaitFor([] { return PolkitOnTheBus() == 1; }, 20))
                << "polkitd did not take its name: " << TemporaryFolder::ReadFile(servicesLog);
        }
        // A polkitd that was already running reads the new rule when it sees it.
        RunProgram::Outcome probe;
        ASSERT_TRUE(WaitFor(
            [&] {
                return (probe = RunProgram::Run(AsUser({kPkexec, "/bin/true"}), 20)).status == 0;
            },
            20))
            << "pkexec does not let " << user << " run /bin/true as root: " << probe.text
            << TemporaryFolder::ReadFile(servicesLog);
    }

    void TearDown() override
    {
        for (pid_t service : {polkitd, busDaemon})
            if (service > 0)
            {
                kill(service, SIGTERM);
                RunProgram::WaitForExit(service, 5); // killed when it does not end
            }
        std::error_code ignored;
        if (busDaemon > 0)
            for (const char* leftover : kBusLeftovers)
                std::filesystem::remove(leftover, ignored);
        if (madeBusFolder)
            std::filesystem::remove(kBusFolder, ignored);
        if (!rule.empty())
            std::filesystem::remove(rule, ignored);
    }

    // Puts a rule answering result for the user in place of the one that grants, and waits until
    // pkexec, run without a terminal, says what it does with it.
    void UseRule(const std::string& result, const std::string& pkexecSays)
    {
        TemporaryFolder::WriteFile(
            rule, "polkit.addRule(function(action, subject) {\n"
                  "  if (action.id == \"org.freedesktop.policykit.exec\" && subject.user == \"" +
                      user + "\")\n    return polkit.Result." + result + ";\n});\n");
        RunProgram::Outcome probe;
        ASSERT_TRUE(WaitFor(
            [&]
            {
                probe = RunProgram::Run(AsUser({"/usr/bin/setsid", "-w", kPkexec, "/bin/true"}), 20);
                return probe.text.find(pkexecSays) != std::string::npos;
            },
            20))
            << "polkitd did not take the rule: " << probe.text;
    }

    RunProgram::Launch AsUser(const std::vector<std::string>& command)
    {
        RunProgram::Launch launch;
        launch.command = command;
        launch.environment = {"PATH=/usr/bin:/bin", "HOME=" + home, "TMPDIR=" + home,
                              "UNINSTALL_UNATTENDED=1", "LANG=C"};
        launch.folder = home;
        launch.user = uid;
        launch.group = gid;
        launch.output = launch.errors = RunProgram::Captured;
        return launch;
    }

    FileDescriptor turn{open("/run/tq-real-pkexec-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    TemporaryFolder folder{"pkexectest"};
    const std::string executables = folder.Path("Applications/Uninstall.app/Contents/MacOS");
    const std::string target = folder.Path("Product");
    const std::string home = folder.Path("home");
    const std::string servicesLog = folder.Path("services.log");
    SystemUser account; // removed when the test ends
    std::string user;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string rule;
    bool madeBusFolder = false;
    pid_t busDaemon = -1;
    pid_t polkitd = -1;
};

TEST_F(UninstallRealPkexecTest, UsersUninstallOfARootInstallationRunsTheInstalledToolAsRoot)
{
    const std::string tool = executables + "/InstallUtility";
    const FileDescriptor events(fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(fanotify_mark(events.Get(), FAN_MARK_ADD, FAN_OPEN_EXEC_PERM, AT_FDCWD, tool.c_str()), 0)
        << "fanotify: " << std::strerror(errno);
    const RunProgram::Started uninstall = RunProgram::Start(AsUser({executables + "/Uninstall"}));
    ASSERT_GE(uninstall.captured, 0);
    std::string output;
    std::vector<std::string> executions;
    pollfd watched[2] = {{events.Get(), POLLIN, 0}, {uninstall.captured, POLLIN, 0}};
    for (ssize_t got = 1; got > 0 && poll(watched, 2, 120000) > 0;)
    {
        if (watched[0].revents & POLLIN)
            AllowExecutions(events.Get(), executions);
        char buffer[4096];
        if (watched[1].revents != 0 && (got = read(uninstall.captured, buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(got));
    }
    close(uninstall.captured);

    EXPECT_EQ(RunProgram::WaitForExit(uninstall.pid, 30), 0) << output;
    EXPECT_NE(output.find("Uninstallation completed successfully."), std::string::npos) << output;
    // The user could not have removed it: the folder holding it is root's and 0755.
    EXPECT_FALSE(std::filesystem::exists(target + "/Library")) << output;
    EXPECT_TRUE(std::filesystem::exists(target));
    // pkexec ran the installed tool, as root, with the installed definition and target file.
    ASSERT_EQ(executions.size(), 1u) << output;
    const std::string expected = "0\t0\t0\t0|" + std::string(kPkexec) + " " + tool + " -uninstall " +
                                 executables + "/sku.xml " + executables + "/target_path.xml ";
    EXPECT_EQ(executions[0].substr(0, expected.size()), expected);
}

// A polkit rule answering no, and a password asked with nobody to ask it (no agent, no terminal):
// rights not obtained, said in plain words with what to do, every line of pkexec's kept.
TEST_F(UninstallRealPkexecTest, RightsRefusedOrWithNobodyToAskAreSaidInPlainWords)
{
    // The rule's answer; what pkexec says to it, then the rest of what Uninstall says.
    const std::pair<const char*, std::vector<std::string>> rows[] = {
        {"NO", {"Not authorized", "This incident has been reported.", "The system's policy does not allow you"}},
        {"AUTH_ADMIN", {"authentication agent", "Nobody could be asked for the password: start your desktop's"}},
    };
    for (const auto& [result, said] : rows)
    {
        SCOPED_TRACE(result);
        ASSERT_NO_FATAL_FAILURE(UseRule(result, said[0]));
        const RunProgram::Outcome outcome =
            RunProgram::Run(AsUser({"/usr/bin/setsid", "-w", executables + "/Uninstall"}), 60);
        EXPECT_EQ(outcome.status, 3) << outcome.text;
        for (const std::string& line : said)
            EXPECT_NE(outcome.text.find(line), std::string::npos) << line << " in:\n" << outcome.text;
        EXPECT_TRUE(std::filesystem::exists(target + "/Library/Root Only.txt"));
    }
}

// Ctrl-C at pkexec's own password prompt on the terminal is a cancel: the tool never started.
TEST_F(UninstallRealPkexecTest, CtrlCAtPkexecsPromptCancels)
{
    ASSERT_NO_FATAL_FAILURE(UseRule("AUTH_ADMIN", "authentication agent"));
    RunProgram::Launch launch = AsUser({"/bin/bash", "-c", executables + "/Uninstall; echo status=$?"});
    launch.environment.erase(
        std::find(launch.environment.begin(), launch.environment.end(), "UNINSTALL_UNATTENDED=1"));
    launch.environment.push_back("TERM=dumb");
    TerminalSession terminal;
    ASSERT_TRUE(terminal.Start(launch));
    ASSERT_TRUE(terminal.Expect("Choose 1-2 [1]: ")) << terminal.transcript;
    terminal.Type("2\n");
    ASSERT_TRUE(terminal.Expect("Password: ")) << terminal.transcript;
    terminal.Type("\x03");
    EXPECT_TRUE(terminal.Expect("Uninstallation was cancelled. Nothing was removed.")) << terminal.transcript;
    EXPECT_TRUE(terminal.Expect("Press Enter ")) << terminal.transcript;
    terminal.Type("\n");
    EXPECT_TRUE(terminal.Expect("status=4")) << terminal.transcript;
    EXPECT_TRUE(std::filesystem::exists(target + "/Library/Root Only.txt"));
}

} // namespace
