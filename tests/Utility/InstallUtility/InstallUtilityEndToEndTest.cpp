// The real Uninstall, unattended, running the real InstallUtility on the demo product installed
// into a temporary sandbox, as a user's machine would hold it: the product's folders, the
// shortcut, and Uninstall.app inside the product.
#include <chrono>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include "RemovalFixture.h"

extern char** environ;

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
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry)
        {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (name != "TMPDIR" && name != "UNINSTALL_UNATTENDED" && name != "PATH" && name != "DISPLAY")
                environment.push_back(text);
        }
        environment.push_back("TMPDIR=" + base + "/tmp");
        environment.push_back("UNINSTALL_UNATTENDED=1");
        const char* path = getenv("PATH");
        environment.push_back("PATH=" + base + "/bin:" + (path ? path : "/usr/bin:/bin"));

        int pipeFds[2];
        EXPECT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const std::string program = executables + "/Uninstall";
        std::vector<char*> argv = {const_cast<char*>(program.c_str()), nullptr};
        std::vector<char*> envp;
        for (const std::string& entry : environment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
        pid_t child = -1;
        const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        EXPECT_EQ(spawned, 0) << strerror(spawned);

        std::string text;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!ended && std::chrono::steady_clock::now() < deadline)
        {
            pollfd watched = {pipeFds[0], POLLIN, 0};
            if (poll(&watched, 1, 200) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
            if (got > 0)
                text.append(buffer, static_cast<size_t>(got));
            else if (got == 0 || errno != EINTR)
                ended = true;
        }
        close(pipeFds[0]);
        EXPECT_TRUE(ended) << "the uninstallation did not end within 60 seconds; so far:\n" << text;
        int status = 0;
        if (spawned == 0)
            waitpid(child, &status, 0);
        return text;
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
    const std::string locked = "Plug-Ins/Components/TqSpace.component";
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
    EXPECT_FALSE(exists(target + "/Plug-Ins/VST"));
    EXPECT_FALSE(exists(target + "/Plug-Ins/Components/TqDynamics.component"));
    EXPECT_FALSE(exists(target + "/" + productName));
    EXPECT_FALSE(exists(target + "/" + productName + ".app"));
    EXPECT_TRUE(exists(target + "/Application Support/Tq Studio Effects/Settings/Preferences.xml"));
}
