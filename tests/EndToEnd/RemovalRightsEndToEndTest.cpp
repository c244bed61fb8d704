// The removal's rights, attacked as a hostile local user would: real users, real sudo with a rule
// that allows only the installed tool, a bind mount, and canaries outside what the user may remove.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RunProgram.h"
#include "SystemUser.h"
#include "TemporaryFolder.h"

namespace
{

class RemovalRightsEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = SystemUser::WhyNoUsersWithSudo(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_FALSE(folder.path().empty()) << folder.why();
        base = folder.path();
        ASSERT_EQ(chmod(base.c_str(), 0755), 0);
        // The bind mount made below lives and dies with this process's own mount namespace.
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << strerror(errno);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << strerror(errno);
        ASSERT_TRUE(owner.Make("tqra" + std::to_string(getpid() % 100000)));
        ASSERT_TRUE(other.Make("tqrb" + std::to_string(getpid() % 100000)));
        // The installed tool, root's, the only program the owner may run through sudo.
        tool = base + "/Uninstall.app/Contents/MacOS/InstallUtility";
        std::filesystem::create_directories(std::filesystem::path(tool).parent_path());
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, tool);
        ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
        sudoers = "/etc/sudoers.d/" + owner.name;
        TemporaryFolder::WriteFile(sudoers, owner.name + " ALL=(root) NOPASSWD: " + tool + "\n", 0440);
    }

    void TearDown() override
    {
        for (const auto& [path, print] : kept)
            EXPECT_EQ(fingerprint(path), print) << path << " was removed or replaced";
        if (!sudoers.empty())
            std::filesystem::remove(sudoers);
        for (const std::string& mounted : mounts)
            umount2(mounted.c_str(), MNT_DETACH);
    }

    static void makeFolder(const std::string& path, const SystemUser& user, mode_t mode)
    {
        std::filesystem::create_directories(path);
        ASSERT_EQ(chown(path.c_str(), user.uid, user.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    static void makeFile(const std::string& path, const SystemUser& user, const std::string& text = "x")
    {
        TemporaryFolder::WriteFile(path, text, 0644);
        ASSERT_EQ(lchown(path.c_str(), user.uid, user.gid), 0);
    }

    // The inode and content (or link text) of path: TearDown finds every kept path as it was.
    static std::string fingerprint(const std::string& path)
    {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0)
            return "absent";
        return std::to_string(status.st_ino) + " " +
               (S_ISLNK(status.st_mode) ? std::filesystem::read_symlink(path).string()
                                        : TemporaryFolder::ReadFile(path));
    }

    void keep(const std::string& path) { kept[path] = fingerprint(path); }

    void canary(const std::string& path, const SystemUser& user)
    {
        makeFile(path, user, "canary " + path);
        keep(path);
    }

    // The owner's definition and target file, in inputsFolder, with entries under the target path.
    void writeInputs(const std::string& inputsFolder, const std::string& target, const std::string& entries)
    {
        definition = inputsFolder + "/sku.xml";
        targetFile = inputsFolder + "/target_path.xml";
        makeFile(definition, owner,
                 "<product><sku name='P'/><installFiles>" + entries + "</installFiles></product>");
        makeFile(targetFile, owner, "<targetPath path='" + target + "'/>");
    }

    // Runs the installed tool as user (root when null; through sudo when asked), output and errors
    // together; the inputs as given, or as definition and targetFile.
    RunProgram::Outcome runTool(const SystemUser* user, bool throughSudo, const std::string& givenDefinition = "",
                                const std::string& givenTarget = "", int input = RunProgram::DevNull)
    {
        RunProgram::Launch launch;
        launch.command = {tool, "-uninstall", givenDefinition.empty() ? definition : givenDefinition,
                          givenTarget.empty() ? targetFile : givenTarget, "-v"};
        launch.input = input;
        if (throughSudo)
            launch.command.insert(launch.command.begin(), {"/usr/bin/sudo", "-n"});
        if (user != nullptr)
            launch.user = user->uid, launch.group = user->gid;
        launch.output = launch.errors = RunProgram::Captured;
        return RunProgram::Run(launch, 30);
    }

    TemporaryFolder folder{"removalrights"};
    std::string base, tool, sudoers, definition, targetFile;
    std::vector<std::string> mounts;
    std::map<std::string, std::string> kept;
    SystemUser owner, other;
};

} // namespace

// A user's definition and target file (in a folder of root's) name a target in the user's folder and
// what only others may remove; the user runs the installed tool (directly or through sudo), or root
// runs it. The tool removes as that user: the kernel refuses the rest, and the mount check keeps a
// bind mount out. Once another user owns one of the inputs, every start is refused before anything
// is read, with the same line.
TEST_F(RemovalRightsEndToEndTest, AUsersInstallationRemovesOnlyWhatThatUserCouldHoweverStarted)
{
    for (const auto& [user, throughSudo] :
         {std::pair<const SystemUser*, bool>{nullptr, false}, {&owner, true}, {&owner, false}})
    {
        const std::string place = base + "/" + std::to_string(mounts.size());
        SCOPED_TRACE(place + (user == nullptr ? " root"
                              : throughSudo   ? " the user through sudo"
                                              : " the user"));
        const std::string home = place + "/home", target = home + "/App";
        makeFolder(target, owner, 0755);
        makeFolder(home, owner, 0755);
        makeFile(target + "/app", owner);
        // Another user's folder inside the user's target; a sticky folder of root's holding another
        // user's file; root's folder outside the target, bound under a listed one.
        makeFolder(target + "/Theirs", other, 0755);
        canary(target + "/Theirs/notes", other);
        makeFolder(target + "/Drop", SystemUser{}, 01777);
        canary(target + "/Drop/b.txt", other);
        makeFolder(place + "/outside", SystemUser{}, 0755);
        canary(place + "/outside/passwd", SystemUser{});
        // Root's group folder: the drop leaves none of root's groups behind.
        makeFolder(target + "/RootGroup", SystemUser{}, 0770);
        canary(target + "/RootGroup/c", SystemUser{});
        makeFolder(target + "/Data/Mounted", owner, 0755);
        ASSERT_EQ(mount((place + "/outside").c_str(), (target + "/Data/Mounted").c_str(), nullptr, MS_BIND,
                        nullptr),
                  0)
            << strerror(errno);
        mounts.push_back(target + "/Data/Mounted");
        // Another user's link, in a sticky folder outside the target, that looks like the shortcut.
        makeFolder(place + "/Desktop", SystemUser{}, 01777);
        ASSERT_EQ(symlink((target + "/app").c_str(), (place + "/Desktop/App").c_str()), 0);
        ASSERT_EQ(lchown((place + "/Desktop/App").c_str(), other.uid, other.gid), 0);
        keep(place + "/Desktop/App");

        writeInputs(place, target,
                    "<file fileName='app'><shortCut name='App' dir='" + place +
                        "/Desktop'/></file>"
                        "<directory fileName='Theirs'><file fileName='notes'/></directory>"
                        "<directory fileName='Drop'><file fileName='b.txt'/></directory>"
                        "<directory fileName='RootGroup'><file fileName='c'/></directory>"
                        "<directory fileName='Data'><directory fileName='Mounted'><file fileName='passwd'/>"
                        "</directory></directory>");
        const RunProgram::Outcome outcome = runTool(user, throughSudo);
        EXPECT_EQ(outcome.status, 1) << outcome.text;
        for (const std::string& line :
             {"removed " + target + "/app", "failed " + place + "/Desktop/App: Operation not permitted",
              "failed " + target + "/Theirs/notes: Permission denied",
              "failed " + target + "/Drop/b.txt: Operation not permitted",
              "failed " + target + "/RootGroup: Permission denied",
              "failed " + target + "/Data/Mounted: on another mount, not entered"})
            EXPECT_NE(outcome.text.find(line), std::string::npos) << line << " in:\n" << outcome.text;

        canary(target + "/app", owner);
        // Another user may not run the tool on the owner's inputs.
        const RunProgram::Outcome othersRun = runTool(&other, false);
        EXPECT_EQ(othersRun.status, 2);
        EXPECT_EQ(othersRun.text, "refusing to remove: what decides this removal is controlled by uid " +
                                      std::to_string(owner.uid) + ", not by the user running it (uid " +
                                      std::to_string(other.uid) + ")\n");
        ASSERT_EQ(chown(targetFile.c_str(), other.uid, other.gid), 0);
        const RunProgram::Outcome refused = runTool(user, throughSudo);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.text, "refusing to remove: " + definition + " is controlled by uid " +
                                    std::to_string(owner.uid) + ", and " + targetFile + " by uid " +
                                    std::to_string(other.uid) +
                                    "; what decides a removal must belong to root or to one user\n");
    }
}

// The user hands the tool, through the sudo rule, a definition and a target file that are process
// files: the user's own descriptor on standard input, whose link text may name any file of root's
// (in a mount namespace of the user's it does). Refused before anything is read; root's files stay.
TEST_F(RemovalRightsEndToEndTest, AProcessFileAsAnInputIsRefused)
{
    const std::string target = base + "/roots";
    makeFolder(target, SystemUser{}, 0755);
    canary(target + "/passwd", SystemUser{});
    makeFolder(base + "/mine", owner, 0755);
    writeInputs(base + "/mine", target, "<file fileName='passwd'/>");
    for (const auto& [givenDefinition, givenTarget] :
         {std::pair<std::string, std::string>{"/proc/self/fd/0", ""}, {"/dev/stdin", "/dev/stdin"},
          {definition, "/proc/self/fd/0"}})
    {
        SCOPED_TRACE(givenDefinition + " " + givenTarget);
        const int input = open((givenTarget.empty() ? definition : targetFile).c_str(), O_RDONLY | O_CLOEXEC);
        const RunProgram::Outcome outcome = runTool(&owner, true, givenDefinition, givenTarget, input);
        close(input);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.text, "refusing to remove: /proc is on the process file system, whose links stand for "
                                "what a process holds open, not for a path; the tool, the definition, the target "
                                "file and every folder above them must be writable by their owners alone, and "
                                "belong to root or to one user\n");
    }
}
