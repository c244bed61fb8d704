// The real Uninstall, unattended, running the real InstallUtility on the demo product installed
// into a temporary sandbox, as a user's machine would hold it: the product's folders, the
// shortcut, and Uninstall.app inside the product.
#include "RemovalFixture.h"
#include "RunProgram.h"

namespace
{

const std::string productName = "Tq Studio Effects";

class InstallUtilityEndToEndTest : public RemovalFixture
{
protected:
    void SetUp() override
    {
        RemovalFixture::SetUp();
        const std::string demo = DEMO_PRODUCT_DIR;
        std::filesystem::copy(demo + "/payload", target, std::filesystem::copy_options::recursive);
        makeLink(target + "/" + productName + "/" + productName + ".app",
                 target + "/" + productName + ".app");
        executables = target + "/" + productName + "/Uninstall.app/Contents/MacOS";
        makeDirectory(executables);
        std::filesystem::copy_file(UNINSTALL_EXECUTABLE, executables + "/Uninstall");
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, executables + "/InstallUtility");
        std::filesystem::copy_file(demo + "/sku.xml", executables + "/sku.xml");
        writeFile(executables + "/target_path.xml", "<targetPath path=\"" + target + "\"/>\n");
        makeDirectory(base + "/tmp");
        // Without root the uninstaller elevates through pkexec; this stand-in grants it.
        writeFile(base + "/bin/pkexec", "#!/bin/sh\nexec \"$@\"\n");
        chmod((base + "/bin/pkexec").c_str(), 0755);
    }

    // Runs the installed Uninstall unattended and returns what both phases (and the tool) wrote
    // on standard error: they all inherit it, so its end is the end of the whole uninstallation.
    std::string runUninstall()
    {
        const char* path = getenv("PATH");
        const std::string tools = base + "/bin:" + (path ? path : "/usr/bin:/bin");
        const std::string temporary = base + "/tmp";
        RunProgram::Launch launch;
        launch.command = {executables + "/Uninstall"};
        launch.environment = RunProgram::EnvironmentWith({{"TMPDIR", temporary.c_str()},
                                                          {"UNINSTALL_UNATTENDED", "1"},
                                                          {"PATH", tools.c_str()},
                                                          {"DISPLAY", nullptr}});
        launch.output = RunProgram::DevNull;
        launch.errors = RunProgram::Captured;
        const RunProgram::Outcome outcome = RunProgram::Run(launch, 60);
        EXPECT_NE(outcome.status, -2) << "Uninstall could not be started";
        EXPECT_TRUE(outcome.complete) << "the uninstallation did not end within 60 seconds; so far:\n"
                                      << outcome.text;
        return outcome.text;
    }

    static std::string dialog(const std::string& informative)
    {
        return "Uninstall " + productName + "\n" + informative + "\n[OK]\n-> OK\n\n";
    }

    std::vector<std::string> under(const std::vector<std::string>& relative)
    {
        std::vector<std::string> paths;
        for (const std::string& path : relative)
            paths.push_back(target + "/" + path);
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::string executables;
};

} // namespace

TEST_F(InstallUtilityEndToEndTest, RemovesExactlyTheListedEntriesAndReportsCompletion)
{
    const std::string errors = runUninstall();

    EXPECT_NE(errors.find("Uninstall " + productName + "\nDo you wish to remove " + productName +
                          " and all related components?\n[Cancel] [Uninstall]\n-> Uninstall\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find(dialog("Uninstallation completed successfully.")), std::string::npos) << errors;
    // The settings folder is kept by its flag, with the folders holding it; its cache is not.
    EXPECT_EQ(listing(target), under({"Application Support", "Application Support/Tq Studio Effects",
                                      "Application Support/Tq Studio Effects/Settings",
                                      "Application Support/Tq Studio Effects/Settings/Preferences.xml",
                                      "Application Support/Tq Studio Effects/Settings/License.dat"}));
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
}

TEST_F(InstallUtilityEndToEndTest, AFailedRemovalEndsWithTheFailureDialog)
{
    // An entry that not even root can remove: immutable where the file system allows it,
    // else a bundle with another file system mounted on it.
    const std::string locked = "Plug-Ins/Extensions/TqSpace.tqext";
    std::string immutableReason;
    std::string mountReason;
    if (!makeImmutable(target + "/" + locked + "/Contents/Info.plist", immutableReason) &&
        !mountTmpfs(target + "/" + locked + "/Contents/Resources", mountReason))
        GTEST_SKIP() << immutableReason << "; " << mountReason;

    const std::string errors = runUninstall();

    EXPECT_NE(errors.find(dialog("Uninstallation failed. Some components may not have been removed.")),
              std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("Uninstallation completed successfully."), std::string::npos) << errors;
    // Everything else listed went all the same.
    EXPECT_TRUE(exists(target + "/" + locked + "/Contents"));
    EXPECT_FALSE(exists(target + "/Plug-Ins/Modules"));
    EXPECT_FALSE(exists(target + "/Plug-Ins/Extensions/TqDynamics.tqext"));
    EXPECT_FALSE(exists(target + "/" + productName + "/ReadMe.txt"));
    EXPECT_FALSE(exists(target + "/" + productName + ".app"));
    EXPECT_TRUE(exists(target + "/Application Support/Tq Studio Effects/Settings/Preferences.xml"));
    // The installed uninstaller stays, so that it can be run again once the cause is gone.
    EXPECT_TRUE(exists(executables + "/Uninstall"));
}
