
#include "InstalledBundleFixture.h"

namespace
{

class UninstallProgressTest : public InstalledBundleFixture
{
protected:
    // Runs the installed copy's second phase on a pseudo-terminal of its own (no display), answers
    // each dialog with Return and returns everything the terminal showed.
    static std::string RunAtTerminal(const std::string& executable, const std::vector<std::string>& environment,
                              const std::string& cwd)
    {
        RunProgram::Launch launch;
        launch.command = {executable, "1"};
        launch.environment = environment;
        launch.folder = cwd;
        int master = -1;
        const pid_t child = RunProgram::StartOnTerminal(launch, &master);
        if (child < 0)
            return "forkpty failed";
        std::string shown;
        size_t answered = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline)
        {
            pollfd watched = {master, POLLIN, 0};
            if (poll(&watched, 1, 100) <= 0)
                continue;
            char buffer[4096];
            ssize_t got = read(master, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) // EIO once the last process on the terminal has gone
                break;
            shown.append(buffer, static_cast<size_t>(got));
            size_t prompts = 0;
            for (size_t at = shown.find("Choose 1-"); at != std::string::npos; at = shown.find("Choose 1-", at + 1))
                ++prompts;
            if (prompts > answered && write(master, "\n", 1) == 1)
                answered = prompts;
        }
        close(master);
        RunProgram::WaitForExit(child, 10);
        return shown;
    }
};

} // namespace

TEST_F(UninstallProgressTest, TerminalShowsTheCountThenWhatFailed)
{
    WriteThreeEntryDefinition();
    const std::string target = root + "/target";
    WriteReportingTool({"removed " + target + "/d/a", "failed " + target + "/d/b: Device or resource busy",
                        "kept " + target + "/d", "summary: 1 removed, 1 kept, 0 missing, 1 failed"},
                       1, "0.1");
    std::vector<std::string> environment = UninstallEnvironment(
        {{"UNINSTALL_UNATTENDED", nullptr}, {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}});
    std::string shown = RunAtTerminal(executables + "/Uninstall", environment, root);

    // The terminal turns each newline into a carriage return and a newline. The stand-in pauses
    // between its lines, so the line is rewritten before its last count (a slow machine may merge some counts).
    const std::string line = "\rRemoving Demo 100% Product: ";
    EXPECT_LT(shown.find(line), shown.find(line + "3 of 3 entries")) << "no count before the last: " << shown;
    const std::string expected = line + "3 of 3 entries\r\n"
                                        "failed " + target + "/d/b: Device or resource busy\r\n\r\n"
                                        "Uninstall Demo 100% Product\r\n"
                                        "Uninstallation failed. Some components may not have been removed.\r\n";
    EXPECT_NE(shown.find(expected), std::string::npos) << shown;
}
