// A user's uninstall of a root-owned installation, elevated by the real pkexec: the system bus and
// the polkit daemon are started here when they are not running, and a polkit rule lets this test's
// own user (and no one else) run programs as root without an authentication agent. The installed
// InstallUtility's executions are watched with fanotify, so the test sees who ran which tool.
//
// Needs root and Debian's pkexec, polkitd and dbus packages (scripts/deps installs them); skips
// itself, saying why, without them.

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/fanotify.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "RunProgram.h"
#include "TemporaryFolder.h"

namespace
{

const char* const kPkexec = "/usr/bin/pkexec";
const char* const kPolkitd = "/usr/lib/polkit-1/polkitd";
const char* const kBusDaemon = "/usr/bin/dbus-daemon";
const char* const kBusSend = "/usr/bin/dbus-send";
const std::string kBusFolder = "/run/dbus";
const std::string kBusSocket = kBusFolder + "/system_bus_socket";
const std::string kBusPidFile = kBusFolder + "/pid";
const char* const kTurnFile = "/run/tq-real-pkexec-test.lock";

// Runs a helper program as root, its output and errors captured.
RunProgram::Outcome RunHelper(const std::vector<std::string>& command, int seconds = 20)
{
    RunProgram::Launch launch;
    launch.command = command;
    launch.output = launch.errors = RunProgram::Captured;
    return RunProgram::Run(launch, seconds);
}

bool BusAnswers()
{
    FileDescriptor socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kBusSocket.c_str(), sizeof address.sun_path - 1);
    return socketFd.IsOpen() &&
           connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool PolkitOnTheBus()
{
    const RunProgram::Outcome answer =
        RunHelper({kBusSend, "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                   "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.PolicyKit1"});
    return answer.status == 0 && answer.text.find("boolean true") != std::string::npos;
}

// Waits up to seconds for condition, looking every 100 ms.
template <typename Condition> bool WaitFor(Condition condition, int seconds)
{
    for (int tries = seconds * 10; tries > 0; --tries)
    {
        if (condition())
            return true;
        usleep(100000);
    }
    return condition();
}

// A process that is gone, or a zombie no one has reaped yet.
bool Ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.compare(close, 3, ") Z") == 0);
}

void Stop(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!WaitFor([&] { return Ended(pid); }, 5))
        kill(pid, SIGKILL);
}

// Every execution of one file while it watches: the uids of the process that executes it and the
// command line it had until then (pkexec's, when pkexec runs the file). Each execution waits for
// the watcher's answer, so the process is there to be looked at.
class ExecutionWatch
{
public:
    struct Execution
    {
        std::string uids; // real, effective, saved and file-system uid
        std::vector<std::string> commandLine;
    };

    // Empty when the file can be watched, else why not.
    std::string Start(const std::string& path)
    {
        notifications = FileDescriptor(fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC));
        if (!notifications.IsOpen() ||
            fanotify_mark(notifications.Get(), FAN_MARK_ADD, FAN_OPEN_EXEC_PERM, AT_FDCWD, path.c_str()) != 0)
            return std::string("fanotify: ") + std::strerror(errno);
        reader = std::thread([this] { Answer(); });
        return "";
    }

    // Stops watching; the executions seen until now.
    std::vector<Execution> Stop()
    {
        stopping = true;
        if (reader.joinable())
            reader.join();
        notifications = FileDescriptor();
        return seen;
    }

    ~ExecutionWatch() { Stop(); }

private:
    void Answer()
    {
        while (!stopping)
        {
            pollfd watched = {notifications.Get(), POLLIN, 0};
            if (poll(&watched, 1, 100) <= 0)
                continue;
            alignas(fanotify_event_metadata) char buffer[4096];
            const ssize_t got = read(notifications.Get(), buffer, sizeof buffer);
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (ssize_t left = got; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left))
            {
                const FileDescriptor opened(event->fd);
                seen.push_back(Look(event->pid));
                const fanotify_response allow = {event->fd, FAN_ALLOW};
                if (write(notifications.Get(), &allow, sizeof allow) != sizeof allow)
                    ADD_FAILURE() << "cannot let an execution go on: " << std::strerror(errno);
            }
        }
    }

    static Execution Look(pid_t pid)
    {
        Execution execution;
        const std::string process = "/proc/" + std::to_string(pid);
        std::ifstream status(process + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.compare(0, 5, "Uid:\t") == 0)
                execution.uids = line.substr(5);
        std::ifstream commandLine(process + "/cmdline");
        for (std::string word; std::getline(commandLine, word, '\0');)
            execution.commandLine.push_back(word);
        return execution;
    }

    FileDescriptor notifications;
    std::thread reader;
    std::atomic<bool> stopping{false};
    std::vector<Execution> seen;
};

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
        // Another run of this test (another build's suite) would stop the services under this one.
        ASSERT_EQ(flock(turn.Get(), LOCK_EX), 0) << kTurnFile << ": " << std::strerror(errno);
        ASSERT_NO_FATAL_FAILURE(MakeUser());
        ASSERT_NO_FATAL_FAILURE(LayOutInstallation());
        ASSERT_NO_FATAL_FAILURE(StartServices());
    }

    void TearDown() override
    {
        std::error_code ignored;
        if (polkitd > 0)
        {
            Stop(polkitd);
            waitpid(polkitd, nullptr, 0);
        }
        if (busDaemon > 0)
        {
            Stop(busDaemon);
            // It leaves its socket and pid file behind, which would stop the next start.
            std::filesystem::remove(kBusSocket, ignored);
            std::filesystem::remove(kBusPidFile, ignored);
        }
        if (madeBusFolder)
            std::filesystem::remove(kBusFolder, ignored);
        if (!rule.empty())
            std::filesystem::remove(rule, ignored);
        if (!user.empty())
        {
            EXPECT_EQ(std::system(("/usr/sbin/userdel -f " + user + " 2>/dev/null").c_str()), 0);
        }
    }

    void MakeUser()
    {
        const std::string name = "tqpkexec" + std::to_string(getpid() % 100000);
        ASSERT_EQ(std::system(("/usr/sbin/useradd -M -d /nonexistent -s /bin/sh " + name).c_str()), 0);
        user = name;
        const passwd* entry = getpwnam(user.c_str());
        ASSERT_NE(entry, nullptr);
        uid = entry->pw_uid;
        gid = entry->pw_gid;
        // Before polkitd starts, so that it reads the rule at once.
        rule = "/etc/polkit-1/rules.d/10-" + user + ".rules";
        TemporaryFolder::WriteFile(
            rule, "polkit.addRule(function(action, subject) {\n"
                  "  if (action.id == \"org.freedesktop.policykit.exec\" && subject.user == \"" +
                      user + "\")\n    return polkit.Result.YES;\n});\n");
    }

    // The system bus and polkitd, each started here only when none is running.
    void StartServices()
    {
        if (!BusAnswers())
        {
            std::error_code ignored;
            madeBusFolder = std::filesystem::create_directories(kBusFolder, ignored);
            // What a bus that is not answering left behind.
            std::filesystem::remove(kBusSocket, ignored);
            std::filesystem::remove(kBusPidFile, ignored);
            const RunProgram::Outcome started = RunHelper({kBusDaemon, "--system", "--fork"});
            ASSERT_EQ(started.status, 0) << "dbus-daemon --system --fork: " << started.text;
            busDaemon = std::atoi(TemporaryFolder::ReadFile(kBusPidFile).c_str());
            ASSERT_GT(busDaemon, 0) << "no pid in " << kBusPidFile;
            ASSERT_TRUE(WaitFor(BusAnswers, 10)) << "the system bus does not answer on " << kBusSocket;
        }
        if (!PolkitOnTheBus())
        {
            polkitdLog = folder.Path("polkitd.log");
            const FileDescriptor log(open(polkitdLog.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
            RunProgram::Launch launch;
            launch.command = {kPolkitd, "--no-debug"};
            launch.output = launch.errors = log.Get();
            polkitd = RunProgram::Start(launch).pid;
            ASSERT_GT(polkitd, 0);
            ASSERT_TRUE(WaitFor(PolkitOnTheBus, 20)) << "polkitd did not take org.freedesktop.PolicyKit1: "
                                                     << TemporaryFolder::ReadFile(polkitdLog);
        }
        // A polkitd that was already running reads the new rule when it sees it.
        RunProgram::Outcome probe;
        const bool granted = WaitFor(
            [&]
            {
                probe = RunAsUser({kPkexec, "/bin/true"}, 20);
                return probe.status == 0;
            },
            20);
        ASSERT_TRUE(granted) << "pkexec does not let " << user << " run /bin/true as root: " << probe.text
                             << TemporaryFolder::ReadFile(polkitdLog);
    }

    // The built bundle installed as root would install it, for a product whose files only root
    // may remove; the user's own folder is its home and temporary folder.
    void LayOutInstallation()
    {
        ASSERT_EQ(chmod(folder.path().c_str(), 0755), 0);
        executables = folder.Path("Applications/Uninstall.app/Contents/MacOS");
        target = folder.Path("Product");
        home = folder.Path("home");
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
    }

    RunProgram::Outcome RunAsUser(const std::vector<std::string>& command, int seconds)
    {
        RunProgram::Launch launch;
        launch.command = command;
        launch.environment = {"PATH=/usr/bin:/bin", "HOME=" + home, "TMPDIR=" + home,
                              "UNINSTALL_UNATTENDED=1", "LANG=C"};
        launch.folder = home;
        launch.user = uid;
        launch.group = gid;
        launch.output = launch.errors = RunProgram::Captured;
        return RunProgram::Run(launch, seconds);
    }

    FileDescriptor turn{open(kTurnFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
    TemporaryFolder folder{"pkexectest"};
    std::string user;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string rule;
    bool madeBusFolder = false;
    pid_t busDaemon = -1;
    pid_t polkitd = -1;
    std::string polkitdLog;
    std::string executables;
    std::string target;
    std::string home;
};

TEST_F(UninstallRealPkexecTest, UsersUninstallOfARootInstallationRunsTheInstalledToolAsRoot)
{
    ExecutionWatch watch;
    const std::string tool = executables + "/InstallUtility";
    ASSERT_EQ(watch.Start(tool), "");
    const RunProgram::Outcome outcome = RunAsUser({executables + "/Uninstall"}, 120);
    const std::vector<ExecutionWatch::Execution> executions = watch.Stop();

    EXPECT_EQ(outcome.status, 0) << outcome.text;
    EXPECT_NE(outcome.text.find("Uninstallation completed successfully."), std::string::npos) << outcome.text;
    // The user could not have removed it: the folder holding it is root's and 0755.
    EXPECT_FALSE(std::filesystem::exists(target + "/Library")) << outcome.text;
    EXPECT_TRUE(std::filesystem::exists(target));
    // pkexec ran the installed tool, as root, with the installed definition and target file.
    ASSERT_EQ(executions.size(), 1u) << outcome.text;
    EXPECT_EQ(executions[0].uids, "0\t0\t0\t0");
    const std::vector<std::string>& words = executions[0].commandLine;
    ASSERT_GE(words.size(), 5u);
    EXPECT_EQ(words[0], kPkexec);
    EXPECT_EQ(std::vector<std::string>(words.begin() + 1, words.begin() + 5),
              (std::vector<std::string>{tool, "-uninstall", executables + "/sku.xml",
                                        executables + "/target_path.xml"}));
}

} // namespace
