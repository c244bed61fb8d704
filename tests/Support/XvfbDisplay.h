#ifndef TQ_XVFBDISPLAY_H
#define TQ_XVFBDISPLAY_H

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "RunProgram.h"
#include "TemporaryFolder.h"

// A private X display (Xvfb, numbered by the server itself) for the GUI tests, stopped when the
// object goes. display() is ":N" once it runs; otherwise why() says what was missing.
class XvfbDisplay
{
public:
    // Starts Xvfb with its log in logFolder, on the display numbered so or on a free one it picks;
    // waits up to 20 s for it to take the display.
    explicit XvfbDisplay(const std::string& logFolder, int fixedNumber = -1)
    {
        const std::string xvfb = FindProgram("Xvfb");
        if (xvfb.empty())
        {
            reason = "Xvfb is not installed, so no display can be started";
            return;
        }
        int numberPipe[2];
        if (pipe2(numberPipe, O_CLOEXEC) != 0)
            return;
        log = logFolder + "/xvfb.log";
        const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        RunProgram::Launch launch;
        launch.command = {xvfb,         ":" + std::to_string(fixedNumber >= 0 ? fixedNumber : FreeNumber()),
                          "-displayfd", "3",
                          "-nolisten",  "tcp",
                          "-screen",    "0",
                          "1024x768x24"};
        launch.folder = logFolder;
        launch.errors = logFd;
        launch.extra = {{numberPipe[1], 3}};
        pid = RunProgram::Start(launch).pid;
        close(logFd);
        close(numberPipe[1]);
        bool complete = false; // Xvfb closes the descriptor once it has written the number
        const std::string number = RunProgram::ReadToEnd(numberPipe[0], 20, &complete);
        close(numberPipe[0]);
        if (number.find('\n') == std::string::npos)
            reason = "Xvfb could not start a display: " + Log();
        else
            name = ":" + number.substr(0, number.find('\n'));
    }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;
    ~XvfbDisplay()
    {
        if (pid > 0)
        {
            kill(pid, SIGTERM);
            RunProgram::WaitForExit(pid, 10);
        }
    }

    const std::string& display() const { return name; }
    const std::string& why() const { return reason; }
    // What the server wrote, for a diagnosis.
    std::string Log() const { return TemporaryFolder::ReadFile(log); }

    // A display number with no lock file, no socket file and no abstract socket (which a server in
    // another mount namespace holds unseen, and which clients try first).
    static int FreeNumber()
    {
        std::ifstream in("/proc/net/unix");
        const std::string sockets((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (int number = 100 + static_cast<int>(getpid() % 300);; ++number)
        {
            const std::string n = std::to_string(number);
            if (access(("/tmp/.X" + n + "-lock").c_str(), F_OK) != 0 &&
                access(("/tmp/.X11-unix/X" + n).c_str(), F_OK) != 0 &&
                sockets.find("@/tmp/.X11-unix/X" + n + "\n") == std::string::npos)
                return number;
        }
    }

    // The program's path on PATH; empty when there is none.
    static std::string FindProgram(const std::string& program)
    {
        std::istringstream folders(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
        for (std::string folder; std::getline(folders, folder, ':');)
            if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
                return folder + "/" + program;
        return std::string();
    }

private:
    pid_t pid = -1;
    std::string log;
    std::string name;
    std::string reason;
};

#endif
