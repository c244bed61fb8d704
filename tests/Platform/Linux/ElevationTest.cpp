#include "Elevation.h"

#include <csignal>

#include "PlatformTestFolder.h"
#include "ProcessLauncher.h"

using ElevationTest = PlatformTestFolder;

namespace
{

std::string Joined(const Vector<TqString>& command)
{
    std::string text;
    for (const TqString& word : command)
        text += std::string(text.empty() ? "" : " ") + word.ConstData();
    return text;
}

Vector<TqString> RemovalArguments()
{
    Vector<TqString> arguments;
    for (const char* word : {"-uninstall", "/c/sku.xml", "/c/target_path.xml", "-v"})
        arguments.push_back(word);
    return arguments;
}

} // namespace

TEST_F(ElevationTest, ProgramsAreFoundOnlyAsExecutableFilesInAbsoluteFolders)
{
    std::string first = Path("first"), second = Path("second");
    WriteFile("first/pkexec", "#!/bin/sh\n", 0644); // not executable
    WriteFile("second/pkexec", "#!/bin/sh\n", 0755);
    std::filesystem::create_directories(Path("third/sudo")); // a folder, not a program
    std::string path = first + "::relative:" + second + "/:" + Path("third");
    EXPECT_STREQ(FindOnPath("pkexec", path.c_str()).ConstData(), (second + "/pkexec").c_str());
    EXPECT_TRUE(FindOnPath("sudo", path.c_str()).IsEmpty());
    EXPECT_TRUE(FindOnPath("pkexec", "").IsEmpty());
    EXPECT_TRUE(FindOnPath("pkexec", nullptr).IsEmpty());
}

TEST_F(ElevationTest, ChoiceIsRootThenPkexecThenSudoOnATerminal)
{
    std::string both = Path("both"), sudoOnly = Path("sudo-only"), none = Path("none");
    WriteFile("both/pkexec", "#!/bin/sh\n", 0755);
    WriteFile("both/sudo", "#!/bin/sh\n", 0755);
    WriteFile("sudo-only/sudo", "#!/bin/sh\n", 0755);
    std::filesystem::create_directories(none);

    Elevation root = ChooseElevation(true, none.c_str(), false);
    EXPECT_EQ(root.method, ElevationMethod::Direct);
    EXPECT_TRUE(root.programPath.IsEmpty());

    Elevation pkexec = ChooseElevation(false, both.c_str(), true);
    EXPECT_EQ(pkexec.method, ElevationMethod::Pkexec);
    EXPECT_STREQ(pkexec.programPath.ConstData(), (both + "/pkexec").c_str());
    EXPECT_EQ(ChooseElevation(false, both.c_str(), false).method, ElevationMethod::Pkexec);

    Elevation sudo = ChooseElevation(false, sudoOnly.c_str(), true);
    EXPECT_EQ(sudo.method, ElevationMethod::Sudo);
    EXPECT_STREQ(sudo.programPath.ConstData(), (sudoOnly + "/sudo").c_str());
    EXPECT_EQ(ChooseElevation(false, sudoOnly.c_str(), false).method, ElevationMethod::None);
    EXPECT_EQ(ChooseElevation(false, none.c_str(), true).method, ElevationMethod::None);
}

TEST(Elevation, CommandsAreArgumentVectors)
{
    Elevation elevation;
    EXPECT_TRUE(PrivilegedCommand(elevation, "/c/InstallUtility", RemovalArguments()).empty());
    elevation.method = ElevationMethod::Direct;
    EXPECT_EQ(Joined(PrivilegedCommand(elevation, "/c/InstallUtility", RemovalArguments())),
              "/c/InstallUtility -uninstall /c/sku.xml /c/target_path.xml -v");
    elevation = {ElevationMethod::Pkexec, "/usr/bin/pkexec"};
    EXPECT_EQ(Joined(PrivilegedCommand(elevation, "/c/InstallUtility", RemovalArguments())),
              "/usr/bin/pkexec /c/InstallUtility -uninstall /c/sku.xml /c/target_path.xml -v");
    elevation = {ElevationMethod::Sudo, "/usr/bin/sudo"};
    Vector<TqString> sudo = PrivilegedCommand(elevation, "/c/Install Utility", RemovalArguments());
    ASSERT_EQ(sudo.size(), 8u);
    EXPECT_STREQ(sudo[1].ConstData(), "-n");
    EXPECT_STREQ(sudo[2].ConstData(), "--");
    EXPECT_STREQ(sudo[3].ConstData(), "/c/Install Utility");

    // Only sudo asks for the password before the tool runs.
    EXPECT_EQ(Joined(RightsCheckCommand(elevation)), "/usr/bin/sudo -v");
    for (ElevationMethod method : {ElevationMethod::None, ElevationMethod::Direct, ElevationMethod::Pkexec})
        EXPECT_TRUE(RightsCheckCommand({method, "/usr/bin/pkexec"}).empty());
}

TEST(Elevation, PkexecRefusalsAreNotToolFailures)
{
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, 126), ToolOutcome::AuthorizationRefused);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, 127), ToolOutcome::RightsNotObtained);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, 0), ToolOutcome::Succeeded);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, 1), ToolOutcome::Failed);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Direct, 126), ToolOutcome::Failed);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Sudo, 127), ToolOutcome::Failed);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Direct, -1), ToolOutcome::Failed);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Direct, 0), ToolOutcome::Succeeded);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, 3), ToolOutcome::NotFound);
    // Ended by an interruption: at the prompt, or before the tool took them over; not by another signal.
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Pkexec, -1, SIGINT), ToolOutcome::Cancelled);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Sudo, -1, SIGHUP), ToolOutcome::Cancelled);
    EXPECT_EQ(OutcomeOfExit(ElevationMethod::Direct, -1, SIGKILL), ToolOutcome::Failed);
}

// pkexec's failure told apart: polkit said no, or nobody could be asked.
TEST(PkexecFailureAdvice, TellsARefusalFromNobodyToAsk)
{
    const auto adviceStart = [](const char* said)
    { return std::string(PkexecFailureAdvice(said).ConstData()).substr(0, 30); };
    EXPECT_EQ(adviceStart("Error executing command as another user: Not authorized\n\n"
                          "This incident has been reported.\n"),
              "The system's policy does not a");
    EXPECT_EQ(adviceStart("Error creating textual authentication agent: Error opening current "
                          "controlling terminal for the process (`/dev/tty'): No such device"),
              "Nobody could be asked for the ");
}

TEST_F(ElevationTest, DismissedPkexecIsARefusalAndRunsNothing)
{
    std::string ran = Path("tool-ran");
    std::string tool = WriteFile("InstallUtility", "#!/bin/sh\ntouch \"" + ran + "\"\necho removed\n", 0755);
    WriteFile("bin/pkexec", "#!/bin/sh\necho 'Error executing command as another user' >&2\nexit 126\n",
              0755);
    Elevation elevation = ChooseElevation(false, Path("bin").c_str(), false);
    ASSERT_EQ(elevation.method, ElevationMethod::Pkexec);

    ToolProcess process;
    ASSERT_TRUE(process.Start(PrivilegedCommand(elevation, tool.c_str(), RemovalArguments())).IsDone());
    // What pkexec says on standard error comes through the same pipe as the tool's output.
    char buffer[64];
    long said = process.Read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(said > 0 ? said : 0)),
              "Error executing command as another user\n");
    EXPECT_EQ(OutcomeOfExit(elevation.method, process.Wait()), ToolOutcome::AuthorizationRefused);
    EXPECT_FALSE(std::filesystem::exists(ran));

    // A pkexec that lets the tool run hands back the tool's output and status.
    WriteFile("granting/pkexec", "#!/bin/sh\nexec \"$@\"\n", 0755);
    Elevation granting = ChooseElevation(false, Path("granting").c_str(), false);
    ToolProcess granted;
    ASSERT_TRUE(granted.Start(PrivilegedCommand(granting, tool.c_str(), RemovalArguments())).IsDone());
    long got = granted.Read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(got > 0 ? got : 0)), "removed\n");
    EXPECT_EQ(OutcomeOfExit(granting.method, granted.Wait()), ToolOutcome::Succeeded);
    EXPECT_TRUE(std::filesystem::exists(ran));
}
