#ifndef TQ_INSTALLEDBUNDLEFIXTURE_H
#define TQ_INSTALLEDBUNDLEFIXTURE_H

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "RunProgram.h"
#include "TemporaryFolder.h"

// A program on a pseudo-terminal of its own, as a person at a terminal has it: the test reads what
// the terminal shows and types into it.
class TerminalSession
{
public:
    bool Start(const RunProgram::Launch& launch)
    {
        child = RunProgram::StartOnTerminal(launch, &master);
        return child > 0;
    }
    ~TerminalSession()
    {
        if (master >= 0)
            close(master); // hangs up whatever still runs on the terminal
        if (child > 0)
        {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    void Type(const std::string& text)
    {
        EXPECT_EQ(write(master, text.data(), text.size()), ssize_t(text.size()));
    }

    // Reads until text shows after what was already matched; false after seconds without it.
    bool Expect(const std::string& text, int seconds = 20)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (size_t found; (found = transcript.find(text, matched)) == std::string::npos;)
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            pollfd watched = {master, POLLIN, 0};
            if (poll(&watched, 1, 100) <= 0)
                continue;
            char buffer[4096];
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0 && errno != EINTR)
                return false;
            if (got > 0)
                transcript.append(buffer, static_cast<size_t>(got));
        }
        matched = transcript.find(text, matched) + text.size();
        return true;
    }

    std::string transcript;

private:
    int master = -1;
    pid_t child = -1;
    size_t matched = 0;
};

// An installed Uninstall.app in a fresh folder: the built Uninstall, the demo definition, a
// target-path file and a stand-in InstallUtility that records how it was run. Its own TMPDIR
// shows every temporary copy the uninstaller makes.
class InstalledBundleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder.path().empty()) << folder.why();
        root = folder.path();
        executables = root + "/Installed/Uninstall.app/Contents/MacOS";
        temporary = root + "/tmp";
        record = root + "/tool-record.txt";
        std::filesystem::create_directories(executables);
        std::filesystem::create_directories(temporary);
        std::filesystem::copy_file(UNINSTALL_EXECUTABLE, executables + "/Uninstall");
        WriteFile(executables + "/sku.xml", "<product><sku ID=\"1\" name=\"Demo 100% Product\"/></product>\n",
                  0644);
        WriteFile(executables + "/target_path.xml", "<targetPath path=\"" + root + "/target\"/>\n", 0644);
        WriteTool(0);
        // Without root rights the uninstaller elevates with pkexec; this one grants everything.
        WriteFile(root + "/bin/pkexec", "#!/bin/sh\nexec \"$@\"\n", 0755);
    }
    static void WriteFile(const std::string& path, const std::string& content, mode_t mode)
    {
        TemporaryFolder::WriteFile(path, content, mode);
    }
    static std::string ReadFile(const std::string& path) { return TemporaryFolder::ReadFile(path); }

    // The environment the installed Uninstall runs in: TMPDIR, PATH (the stand-in pkexec first)
    // and these changes.
    std::vector<std::string> UninstallEnvironment(std::map<std::string, const char*> changes) const
    {
        const std::string path =
            root + "/bin:" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        changes["TMPDIR"] = temporary.c_str();
        changes["PATH"] = path.c_str();
        return RunProgram::EnvironmentWith(changes);
    }

    // The stand-in removal tool: records its program path, working directory and arguments,
    // prints 1 MiB, says on standard error that it has finished, and exits with status.
    void WriteTool(int status)
    {
        WriteFile(executables + "/InstallUtility",
                  "#!/bin/sh\nr='" + record +
                      "'\n{ printf 'program=%s\\ncwd=%s\\nargc=%s\\n' \"$0\" \"$(pwd)\" \"$#\"\n"
                      "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done; } > \"$r.part\"\n"
                      "head -c 1048576 /dev/zero | tr '\\0' r\nmv \"$r.part\" \"$r\"\n"
                      "echo 'stand-in tool finished' >&2\nexit " +
                      std::to_string(status) + "\n",
                  0755);
    }

    // A stand-in removal tool that ignores interruptions and its standard input, as the real one
    // does while it finishes its last entry: it marks tool-started, waits until ReleaseSlowTool,
    // then marks tool-finished.
    void WriteSlowTool()
    {
        ASSERT_EQ(mkfifo((root + "/tool-may-finish").c_str(), 0666), 0);
        WriteFile(executables + "/InstallUtility",
                  "#!/bin/sh\ntrap '' INT QUIT TERM HUP\ntouch '" + root + "/tool-started'\nread go < '" +
                      root + "/tool-may-finish'\necho 'removed " + root + "/target/x'\ntouch '" + root +
                      "/tool-finished'\n",
                  0755);
    }

    // Whether every signal sent to the process has been delivered to it (none left pending).
    static bool NoSignalPending(pid_t process)
    {
        const std::string status = ReadFile("/proc/" + std::to_string(process) + "/status");
        return status.find("\nSigPnd:\t0000000000000000\n") != std::string::npos &&
               status.find("\nShdPnd:\t0000000000000000\n") != std::string::npos;
    }

    // Lets the slow tool finish, once it waits for that.
    void ReleaseSlowTool() { EXPECT_TRUE(RunProgram::WriteToFifo(root + "/tool-may-finish", "go\n", 20)); }

    // A definition whose install-file tree has three entries: folder "d" holding "a" and "b".
    void WriteThreeEntryDefinition()
    {
        WriteFile(
            executables + "/sku.xml",
            "<product><sku ID=\"1\" name=\"Demo 100% Product\"/><installFiles><directory fileName=\"d\">"
            "<file fileName=\"a\"/><file fileName=\"b\"/></directory></installFiles></product>\n",
            0644);
    }

    // A stand-in removal tool that prints these -v lines (no single quotes in them), pausing
    // seconds after each, and exits with status.
    void WriteReportingTool(const std::vector<std::string>& lines, int status, const std::string& seconds)
    {
        std::string script = "#!/bin/sh\n";
        for (const std::string& line : lines)
            script += "printf '%s\\n' '" + line + "'\nsleep " + seconds + "\n";
        WriteFile(executables + "/InstallUtility", script + "exit " + std::to_string(status) + "\n", 0755);
    }

    // Files enough in the installed bundle (small ones, in folders of a hundred) that copying it
    // takes a while.
    void AddPayload(int files)
    {
        for (int file = 0; file < files; ++file)
            WriteFile(PayloadFolder() + "/d" + std::to_string(file / 100) + "/f" + std::to_string(file),
                      "payload\n", 0644);
    }
    std::string PayloadFolder() const { return root + "/Installed/Uninstall.app/Contents/Resources/payload"; }

#ifdef INSTALL_UTILITY_EXECUTABLE
    // The real removal tool and a product of bundles listed as one entry each, holding files
    // files in all (in folders of a thousand): a removal that takes a while, to be stopped halfway.
    // The target folder is in memory where the system has /dev/shm (reached by a link at the
    // usual place): a disk busy with other work would take a minute to make the files.
    void InstallLargeProduct(int bundles, int files)
    {
        std::string inMemory = "/dev/shm/tqlarge-XXXXXX";
        if (std::filesystem::is_directory("/dev/shm") && mkdtemp(&inMemory[0]) != nullptr)
        {
            memoryFolder.path = inMemory;
            ASSERT_EQ(chmod(inMemory.c_str(), 0755), 0);
            std::filesystem::create_directory_symlink(inMemory, root + "/target");
        }
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility",
                                   std::filesystem::copy_options::overwrite_existing);
        std::string entries;
        for (int bundle = 0; bundle < bundles; ++bundle)
        {
            const std::string path = root + "/target/Big-" + std::to_string(bundle) + ".bundle";
            entries += "<file fileName=\"Big-" + std::to_string(bundle) + ".bundle\"/>";
            for (int file = 0; file < files / bundles; ++file)
            {
                const std::string thousand = path + "/d" + std::to_string(file / 1000);
                if (file % 1000 == 0)
                    std::filesystem::create_directories(thousand);
                const int fd = open((thousand + "/f" + std::to_string(file)).c_str(),
                                    O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                ASSERT_GE(fd, 0);
                close(fd);
            }
        }
        WriteFile(executables + "/sku.xml",
                  "<product><sku ID=\"1\" name=\"Demo 100% Product\"/><installFiles>" + entries +
                      "</installFiles></product>\n",
                  0644);
    }
#endif

    // The running installed tool's process id, waiting up to seconds for it; -1 when none came.
    pid_t WaitForTool(int seconds) const
    {
        const std::string tool = executables + "/InstallUtility";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (; std::chrono::steady_clock::now() < deadline; usleep(5000))
            for (const auto& entry : std::filesystem::directory_iterator("/proc"))
            {
                std::error_code error;
                const auto program = std::filesystem::read_symlink(entry.path() / "exe", error);
                if (!error && program == tool)
                    return static_cast<pid_t>(std::stol(entry.path().filename().string()));
            }
        return -1;
    }

    // Holds the tool still (SIGSTOP) once path is gone, so that a request to stop reaches it halfway
    // through the removal whatever the machine's speed; false when path stayed for seconds.
    static bool PauseToolOnceGone(pid_t tool, const std::string& path, int seconds)
    {
        return RunProgram::WaitUntil([&] { return !std::filesystem::exists(path); }, seconds, 1000) && kill(tool, SIGSTOP) == 0;
    }

    // Waits up to seconds for the line "stop" to wait on the held tool's standard input, then lets
    // the tool go on; false when it did not come.
    static bool ResumeToolOnceAskedToStop(pid_t tool, int seconds)
    {
        const int input = open(("/proc/" + std::to_string(tool) + "/fd/0").c_str(), O_RDONLY | O_NONBLOCK);
        int waiting = 0;
        RunProgram::WaitUntil([&] { return input < 0 || ioctl(input, FIONREAD, &waiting) != 0 || waiting >= 5; }, seconds, 5000);
        if (input >= 0)
            close(input);
        kill(tool, SIGCONT);
        return waiting >= 5;
    }

    // The paths of the "kept PATH: the removal was cancelled" lines in text, sorted.
    static std::vector<std::string> SaidToStay(const std::string& text)
    {
        const std::string why = ": the removal was cancelled";
        std::vector<std::string> paths;
        for (size_t at = text.find("kept "); at != std::string::npos; at = text.find("kept ", at + 1))
        {
            const size_t end = text.find(why, at);
            if (end != std::string::npos && text.find('\n', at) > end)
                paths.push_back(text.substr(at + 5, end - at - 5));
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // What is in the target folder, by path, sorted.
    std::vector<std::string> TargetEntries() const
    {
        std::vector<std::string> paths;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/target"))
            paths.push_back(entry.path().string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // command run without windows or questions, its standard error captured.
    RunProgram::Launch UnattendedLaunch(const std::vector<std::string>& command) const
    {
        RunProgram::Launch launch;
        launch.command = command;
        launch.environment = UninstallEnvironment({{"UNINSTALL_UNATTENDED", "1"}, {"DISPLAY", nullptr}});
        launch.folder = root;
        launch.errors = RunProgram::Captured;
        return launch;
    }

    std::vector<std::string> TemporaryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temporary))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // A folder removed with everything in it when the test ends.
    struct FolderToRemove
    {
        std::string path;
        ~FolderToRemove()
        {
            if (!path.empty())
                std::filesystem::remove_all(path);
        }
    };

    TemporaryFolder folder{"uninstalltest"};
    FolderToRemove memoryFolder;
    std::string root;
    std::string executables;
    std::string temporary;
    std::string record;
};

#endif
