#include "InstalledBundleFixture.h"

using UninstallProgressTest = InstalledBundleFixture;

// The installed copy's second phase on a terminal of its own (no display).
TEST_F(UninstallProgressTest, TerminalShowsTheCountThenWhatFailed)
{
    WriteThreeEntryDefinition();
    const std::string target = root + "/target";
    WriteReportingTool({"removed " + target + "/d/a", "failed " + target + "/d/b: Device or resource busy",
                        "kept " + target + "/d", "summary: 1 removed, 1 kept, 0 missing, 1 failed"},
                       1, "0.1");
    RunProgram::Launch launch;
    launch.command = {executables + "/Uninstall", "1"};
    launch.environment = UninstallEnvironment(
        {{"UNINSTALL_UNATTENDED", nullptr}, {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}});
    launch.folder = root;
    TerminalSession terminal;
    ASSERT_TRUE(terminal.Start(launch));

    // The terminal turns each newline into a carriage return and a newline. The stand-in pauses
    // between its lines, so the line is rewritten before its last count (a slow machine may merge some).
    const std::string line = "\rRemoving Demo 100% Product: ";
    EXPECT_TRUE(terminal.Expect(line)) << terminal.transcript;
    EXPECT_TRUE(
        terminal.Expect(line + "3 of 3 entries\r\nfailed " + target +
                            "/d/b: Device or resource busy\r\n\r\nUninstall Demo 100% Product\r\n"
                            "Uninstallation failed. Some components may not have been removed. 1 item "
                            "could not be removed; the details say why.\r\n",
                        60))
        << "no count before the last, or not this ending: " << terminal.transcript;
    EXPECT_TRUE(terminal.Expect("Press Enter ")) << terminal.transcript;
    terminal.Type("\n");
}
