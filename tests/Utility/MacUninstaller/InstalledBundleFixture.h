#ifndef TQ_INSTALLEDBUNDLEFIXTURE_H
#define TQ_INSTALLEDBUNDLEFIXTURE_H

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <map>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

extern char** environ;

// An installed Uninstall.app in a fresh folder: the built Uninstall, the demo definition, a
// target-path file and a stand-in InstallUtility that records how it was run. Its own TMPDIR
// shows every temporary copy the uninstaller makes.
class InstalledBundleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/uninstalltest-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
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
    void TearDown() override { std::filesystem::remove_all(root); }

    static void WriteFile(const std::string& path, const std::string& content, mode_t mode)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream input(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    }

    // The stand-in removal tool: records its program path, working directory and arguments,
    // prints 1 MiB, says on standard error that it has finished, and exits with status.
    void WriteTool(int status)
    {
        WriteFile(executables + "/InstallUtility",
                  "#!/bin/sh\n"
                  "{\n"
                  "  printf 'program=%s\\n' \"$0\"\n"
                  "  printf 'cwd=%s\\n' \"$(pwd)\"\n"
                  "  printf 'argc=%s\\n' \"$#\"\n"
                  "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                  "} > '" +
                      record +
                      ".part'\n"
                      "head -c 1048576 /dev/zero | tr '\\0' r\n"
                      "mv '" +
                      record + ".part' '" + record +
                      "'\n"
                      "echo 'stand-in tool finished' >&2\n"
                      "exit " +
                      std::to_string(status) + "\n",
                  0755);
    }

    // A stand-in removal tool that, like the real one once it removes, ignores interruptions: it
    // marks tool-started, takes a second, then marks tool-finished.
    void WriteSlowTool()
    {
        WriteFile(executables + "/InstallUtility",
                  "#!/bin/sh\ntrap '' INT QUIT TERM HUP\ntouch '" + root + "/tool-started'\nsleep 1\n"
                  "echo 'removed " + root + "/target/x'\ntouch '" + root + "/tool-finished'\n",
                  0755);
    }

    // Waits up to seconds for a file to appear.
    static bool WaitForFile(const std::string& path, int seconds)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!std::filesystem::exists(path))
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            usleep(20000);
        }
        return true;
    }

    // A definition whose install-file tree has three entries: folder "d" holding "a" and "b".
    void WriteThreeEntryDefinition()
    {
        WriteFile(executables + "/sku.xml",
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

    // The current environment with some variables set (or removed when the value is null).
    static std::vector<std::string> EnvironmentWith(const std::map<std::string, const char*>& changes)
    {
        std::vector<std::string> result;
        for (char** entry = environ; *entry != nullptr; ++entry)
        {
            std::string text = *entry;
            if (changes.count(text.substr(0, text.find('='))) == 0)
                result.push_back(text);
        }
        for (const auto& change : changes)
            if (change.second != nullptr)
                result.push_back(change.first + "=" + change.second);
        return result;
    }

    // Starts argv[0] in folder cwd with the environment; its standard error goes to stderrFd
    // (inherited when -1), its standard input comes from /dev/null.
    static pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                       const std::string& cwd, int stderrFd, int extraFd = -1, int extraTarget = -1)
    {
        std::vector<char*> args, envs;
        for (const std::string& word : argv)
            args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        for (const std::string& word : environment)
            envs.push_back(const_cast<char*>(word.c_str()));
        envs.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (stderrFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
        if (extraFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, extraFd, extraTarget);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        pid_t child = -1;
        int error = posix_spawn(&child, argv[0].c_str(), &actions, nullptr, args.data(), envs.data());
        posix_spawn_file_actions_destroy(&actions);
        return error == 0 ? child : -1;
    }

    // As Spawn, but the child runs as user (group the same number, no other groups).
    static pid_t SpawnAs(uid_t user, const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const std::string& cwd, int stderrFd)
    {
        std::vector<char*> args, envs;
        for (const std::string& word : argv)
            args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        for (const std::string& word : environment)
            envs.push_back(const_cast<char*>(word.c_str()));
        envs.push_back(nullptr);
        pid_t child = fork();
        if (child != 0)
            return child;
        int input = open("/dev/null", O_RDONLY);
        if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(stderrFd, STDERR_FILENO) < 0 ||
            chdir(cwd.c_str()) != 0 || setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)
            _exit(126);
        execve(args[0], args.data(), envs.data());
        _exit(127);
    }

    // Waits up to seconds for the child; its exit status, or -1 (killed then) when it did not end.
    static int WaitForExit(pid_t child, int seconds)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0)
        {
            if (std::chrono::steady_clock::now() > deadline)
            {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                return -1;
            }
            usleep(20000);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Everything written to fd until every writer has closed it, or until seconds have passed.
    static std::string ReadToEnd(int fd, int seconds, bool* complete)
    {
        std::string text;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        *complete = false;
        while (std::chrono::steady_clock::now() < deadline)
        {
            pollfd watched = {fd, POLLIN, 0};
            if (poll(&watched, 1, 100) <= 0)
                continue;
            char buffer[4096];
            ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
            {
                *complete = got == 0;
                break;
            }
            text.append(buffer, static_cast<size_t>(got));
        }
        return text;
    }

    std::vector<std::string> TemporaryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temporary))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string root;
    std::string executables;
    std::string temporary;
    std::string record;
};

#endif
