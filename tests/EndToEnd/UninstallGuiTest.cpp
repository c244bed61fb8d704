#include <memory>
#include <sstream>

#include "InstalledBundleFixture.h"
#include "XvfbDisplay.h"

namespace
{

// The dialogs' window title: the product's name (the heading says "Uninstall <product>").
const char kTitle[] = "Demo 100% Product";

// Runs Uninstall on a private Xvfb display and answers its windows with xdotool's keyboard.
class UninstallGuiTest : public InstalledBundleFixture
{
protected:
    void SetUp() override
    {
        InstalledBundleFixture::SetUp();
        xvfb = std::make_unique<XvfbDisplay>(root);
        if (xvfb->display().empty())
            GTEST_SKIP() << xvfb->why();
        display = xvfb->display();
        xdotool = XvfbDisplay::FindProgram("xdotool");
        ASSERT_FALSE(xdotool.empty()) << "xdotool is needed to drive the dialog windows";
    }

    void TearDown() override
    {
        if (errors >= 0)
            close(errors);
        xvfb.reset();
    }

    // The standard output of a program run on the display.
    std::string Output(const std::vector<std::string>& command)
    {
        RunProgram::Launch launch;
        launch.command = command;
        launch.environment = RunProgram::EnvironmentWith({{"DISPLAY", display.c_str()}});
        launch.folder = root;
        launch.output = RunProgram::Captured;
        launch.errors = RunProgram::DevNull;
        return RunProgram::Run(launch, 20).text;
    }

    std::string Xdotool(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), xdotool);
        return Output(arguments);
    }

    // The newest mapped window (keys sent to one not yet on screen are lost) with exactly this
    // name, waiting for it up to seconds; empty when none came. Windows of the process excluded are
    // passed over: X may hand a new client the ids of an old one.
    std::string WaitForWindow(const std::string& name, int seconds, pid_t excluded = -1)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (std::string last; std::chrono::steady_clock::now() < deadline; usleep(100000))
        {
            std::istringstream ids(Xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"}));
            for (std::string id; std::getline(ids, id);)
            {
                // A window that has gone since the search has no owner any more.
                const std::string owner = id.empty() || excluded < 0 ? "" : Xdotool({"getwindowpid", id});
                if (!id.empty() &&
                    (excluded < 0 || (!owner.empty() && owner != std::to_string(excluded) + "\n")))
                    last = id;
            }
            if (!last.empty())
                return last;
        }
        return std::string();
    }

    void PressKeys(const std::string& window, const std::vector<std::string>& keys)
    {
        // Keys go to the window that has the focus once the server says it has it.
        Xdotool({"windowfocus", "--sync", window});
        EXPECT_TRUE(RunProgram::WaitUntil([&] { return Xdotool({"getwindowfocus"}) == window + "\n"; }, 10))
            << "window " << window << " did not get the focus";
        for (const std::string& key : keys)
            Xdotool({"key", key});
    }

    // The text of window's Details list, copied to the clipboard until copied says it is whole: a
    // Tab or more from the expander reaches the list, where every line is selected and copied; the
    // window takes the keys in its own time. Empty without xclip.
    std::string CopiedDetails(const std::string& window, const std::function<bool(const std::string&)>& copied)
    {
        const std::string xclip = XvfbDisplay::FindProgram("xclip");
        std::string text;
        PressKeys(window, {});
        for (int tries = 0; !xclip.empty() && tries < 5 && !copied(text); ++tries)
        {
            for (const char* key : {"Tab", "ctrl+a", "ctrl+c"})
                Xdotool({"key", key});
            RunProgram::WaitUntil(
                [&]
                {
                    text = Output({xclip, "-o", "-selection", "clipboard", "-display", display});
                    return copied(text);
                },
                3, 100000);
        }
        return text;
    }

    // Starts the installed Uninstall (child) on the display; its standard error goes to errors.
    void StartUninstall(const std::vector<std::string>& arguments = {})
    {
        RunProgram::Launch launch;
        // GTK keeps caches for the life of the process; they are not this program's leaks.
        launch.environment = UninstallEnvironment({{"UNINSTALL_UNATTENDED", nullptr},
                                                   {"DISPLAY", display.c_str()},
                                                   {"WAYLAND_DISPLAY", nullptr},
                                                   {"GDK_BACKEND", "x11"},
                                                   {"NO_AT_BRIDGE", "1"},
                                                   {"ASAN_OPTIONS", "detect_leaks=0"}});
        launch.command = {executables + "/Uninstall"};
        launch.command.insert(launch.command.end(), arguments.begin(), arguments.end());
        launch.folder = root;
        launch.errors = RunProgram::Captured;
        const RunProgram::Started started = RunProgram::Start(launch);
        EXPECT_GT(started.pid, 0);
        child = started.pid;
        errors = started.captured;
    }

    // What Uninstall and its relaunched copy wrote to standard error, waiting up to seconds for
    // them to close it (errorsClosed says whether they did).
    std::string Errors(int seconds) { return RunProgram::ReadToEnd(errors, seconds, &errorsClosed); }

    // What went wrong around a window that did not come.
    std::string Diagnosis() { return "\nUninstall wrote: " + Errors(2) + "\nXvfb wrote: " + xvfb->Log(); }

    std::unique_ptr<XvfbDisplay> xvfb;
    std::string xdotool;
    std::string display;
    pid_t child = -1;
    int errors = -1;
    bool errorsClosed = false;
};

} // namespace

// Cancel from the keyboard, or SIGTERM while the confirmation window is open, which answers it
// and says the cancel in a window of its own: nothing is copied, and no dialog goes to standard error.
TEST_F(UninstallGuiTest, CancelAtTheConfirmationWindowMakesNoCopy)
{
    for (const bool stopped : {false, true})
    {
        SCOPED_TRACE(stopped ? "SIGTERM" : "Return");
        StartUninstall();
        const std::string confirmation = WaitForWindow(kTitle, 90);
        ASSERT_FALSE(confirmation.empty()) << "the confirmation window did not appear" << Diagnosis();
        std::string answered = confirmation;
        if (stopped)
        {
            ASSERT_EQ(kill(child, SIGTERM), 0);
            ASSERT_TRUE(RunProgram::WaitUntil(
                [&] { return !(answered = WaitForWindow(kTitle, 1)).empty() && answered != confirmation; }, 30))
                << "no window said the cancel" << Diagnosis();
            EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the cancel was not waited for";
        }
        // The default button "Cancel" has the focus, so Return answers it; the notice has only OK.
        PressKeys(answered, {"Return"});
        EXPECT_EQ(RunProgram::WaitForExit(child, 30), 4);
        EXPECT_EQ(Errors(10).find("[Cancel] [Uninstall]"), std::string::npos) << "the dialog went to standard error";
        close(errors);
        errors = -1;
        EXPECT_TRUE(TemporaryEntries().empty());
        EXPECT_FALSE(std::filesystem::exists(record));
    }
}

TEST_F(UninstallGuiTest, UninstallButtonRunsBothPhasesThroughWindows)
{
    StartUninstall();
    const std::string confirmation = WaitForWindow(kTitle, 90);
    ASSERT_FALSE(confirmation.empty()) << "the confirmation window did not appear" << Diagnosis();
    // "Uninstall" sits right of the focused "Cancel", at the end of the row.
    PressKeys(confirmation, {"Tab", "Return"});
    EXPECT_EQ(RunProgram::WaitForExit(child, 30), 0);
    const std::string completion = WaitForWindow(kTitle, 90, child);
    ASSERT_FALSE(completion.empty()) << "the completion window did not appear" << Diagnosis();
    EXPECT_TRUE(std::filesystem::exists(record)) << "the completion came before the tool had finished";
    PressKeys(completion, {"Return"});

    const std::string text = Errors(60);
    EXPECT_TRUE(errorsClosed) << "the relaunched copy did not end";
    EXPECT_EQ(text.find("Uninstallation completed"), std::string::npos)
        << "the dialog went to standard error";
    // The tool's words come through its pipe, not to standard error; the copy is gone.
    EXPECT_EQ(text.find("stand-in tool finished\n"), std::string::npos);
    EXPECT_TRUE(TemporaryEntries().empty());
    EXPECT_NE(ReadFile(record).find("argc=6\narg=-uninstall\narg=" + executables + "/sku.xml\n"),
              std::string::npos);
}

// The relaunched copy shows a progress window while the tool prints its lines, closes it, and
// shows the failure with the tool's failed line in its Details list, open at once.
TEST_F(UninstallGuiTest, ProgressWindowThenFailureWithDetails)
{
    WriteThreeEntryDefinition();
    const std::string target = root + "/target";
    const std::string failedLine = "failed " + target + "/d/b: Device or resource busy";
    WriteReportingTool({"removed " + target + "/d/a", failedLine, "kept " + target + "/d",
                        "summary: 1 removed, 1 kept, 0 missing, 1 failed"},
                       1, "0.5");
    StartUninstall({"1"});
    EXPECT_FALSE(WaitForWindow("Removing Demo 100% Product", 60).empty())
        << "the progress window did not appear" << Diagnosis();
    const std::string failure = WaitForWindow(kTitle, 60);
    ASSERT_FALSE(failure.empty()) << "the failure window did not appear" << Diagnosis();
    EXPECT_EQ(Xdotool({"search", "--name", "^Removing "}), "") << "the progress window stayed open";

    // The Details are open at once: the failed line whole.
    const std::string xclip = XvfbDisplay::FindProgram("xclip");
    const std::string selected = CopiedDetails(
        failure, [&](const std::string& text) { return text.find(failedLine) != std::string::npos; });
    EXPECT_TRUE(xclip.empty() || selected == failedLine) << selected;
    // Escape closes the dialog, which answers its one button.
    PressKeys(failure, {"Escape"});
    EXPECT_EQ(RunProgram::WaitForExit(child, 20), 1);
    if (xclip.empty())
        GTEST_SKIP() << "xclip is not installed, so the text of the Details area was not read";
}

// Cancel in the progress window stops the tool after the entry under way: the window that says
// so names in its Details what stays, which is what is there (that a run again finishes is shown
// at the terminal and by the remover's own test).
TEST_F(UninstallGuiTest, CancelInTheProgressWindowStopsTheRemovalAfterTheEntryUnderWay)
{
    ASSERT_NO_FATAL_FAILURE(InstallLargeProduct(8, 100000));
    StartUninstall({"1"});
    const pid_t tool = WaitForTool(60);
    ASSERT_GT(tool, 0) << Diagnosis();
    ASSERT_TRUE(PauseToolOnceGone(tool, root + "/target/Big-0.bundle", 20)) << Diagnosis();
    const std::string progress = WaitForWindow("Removing Demo 100% Product", 60);
    ASSERT_FALSE(progress.empty()) << "the progress window did not appear" << Diagnosis();
    // Cancel, the window's one button, has the focus.
    PressKeys(progress, {"Return"});
    ASSERT_TRUE(ResumeToolOnceAskedToStop(tool, 20)) << "Cancel did not reach the tool" << Diagnosis();
    const std::string cancelled = WaitForWindow(kTitle, 60);
    ASSERT_FALSE(cancelled.empty()) << "the window saying the cancel did not appear" << Diagnosis();
    EXPECT_EQ(Xdotool({"search", "--name", "^Removing "}), "") << "the progress window stayed open";

    PressKeys(cancelled, {"alt+d"});
    const std::string xclip = XvfbDisplay::FindProgram("xclip");
    const std::vector<std::string> stays =
        SaidToStay(CopiedDetails(cancelled, [](const std::string& text) { return !SaidToStay(text).empty(); }));
    EXPECT_TRUE(xclip.empty() || (!stays.empty() && TargetEntries() == stays));
    PressKeys(cancelled, {"Escape"});
    EXPECT_EQ(RunProgram::WaitForExit(child, 20), 4);
    if (xclip.empty())
        GTEST_SKIP() << "xclip is not installed, so the Details were not compared with what stays";
}
