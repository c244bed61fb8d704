// The removal's rights, attacked as a hostile local user would: real users, real sudo with a rule
// that allows only the installed tool, a bind mount, and canaries outside what the user may remove.
#include <gtest/gtest.h>

#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "RunProgram.h"
#include "TemporaryFolder.h"

namespace
{

struct User
{
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

// A file that must survive: its content and inode as they were made.
struct Canary
{
    std::string path;
    ino_t inode = 0;
};

class RemovalRightsEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "making users, sudo rules and mounts needs root";
        if (access("/usr/bin/sudo", X_OK) != 0 || access("/usr/sbin/useradd", X_OK) != 0)
            GTEST_SKIP() << "sudo or useradd is not installed";
        if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
            GTEST_SKIP() << "this process may not gain privileges, so sudo cannot work here";
        ASSERT_FALSE(folder.path().empty()) << folder.why();
        base = folder.path();
        ASSERT_EQ(chmod(base.c_str(), 0755), 0);
        // The bind mount made below lives and dies with this process's own mount namespace.
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << strerror(errno);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << strerror(errno);
        const std::string suffix = std::to_string(getpid() % 100000);
        makeUser("tqra" + suffix, owner);
        makeUser("tqrb" + suffix, other);
        // The installed tool, root's, the only program the owner may run through sudo.
        tool = base + "/Uninstall.app/Contents/MacOS/InstallUtility";
        std::filesystem::create_directories(std::filesystem::path(tool).parent_path());
        std::filesystem::copy_file(INSTALL_UTILITY_EXECUTABLE, tool);
        ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
        sudoers = "/etc/sudoers.d/" + owner.name;
        TemporaryFolder::WriteFile(sudoers, owner.name + " ALL=(root) NOPASSWD: " + tool + "\n", 0440);
        home = base + "/home";
        makeFolder(home, owner, 0755);
    }

    void TearDown() override
    {
        if (!sudoers.empty())
            std::filesystem::remove(sudoers);
        for (const User* user : {&owner, &other})
        {
            if (!user->name.empty())
            {
                EXPECT_EQ(std::system(("/usr/sbin/userdel -f " + user->name + " 2>/dev/null").c_str()), 0);
            }
        }
        for (const std::string& mounted : mounts)
            umount2(mounted.c_str(), MNT_DETACH);
    }

    void makeUser(const std::string& name, User& user)
    {
        ASSERT_EQ(std::system(("/usr/sbin/useradd -M -d /nonexistent -s /usr/sbin/nologin " + name).c_str()),
                  0);
        user.name = name;
        const passwd* entry = getpwnam(name.c_str());
        ASSERT_NE(entry, nullptr);
        user.uid = entry->pw_uid;
        user.gid = entry->pw_gid;
    }

    static void makeFolder(const std::string& path, const User& user, mode_t mode)
    {
        std::filesystem::create_directories(path);
        ASSERT_EQ(chown(path.c_str(), user.uid, user.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    static void makeFile(const std::string& path, const User& user, const std::string& text = "x")
    {
        TemporaryFolder::WriteFile(path, text, 0644);
        ASSERT_EQ(chown(path.c_str(), user.uid, user.gid), 0);
    }

    Canary canary(const std::string& path, const User& user)
    {
        makeFile(path, user, "canary " + path);
        struct stat status;
        EXPECT_EQ(lstat(path.c_str(), &status), 0);
        return Canary{path, status.st_ino};
    }

    static void expectIntact(const Canary& canary)
    {
        struct stat status;
        ASSERT_EQ(lstat(canary.path.c_str(), &status), 0) << canary.path << " is gone";
        EXPECT_EQ(status.st_ino, canary.inode) << canary.path << " was replaced";
        EXPECT_EQ(TemporaryFolder::ReadFile(canary.path), "canary " + canary.path);
    }

    // The definition and target file, in folder, with entries under the target path.
    void writeInputs(const std::string& folder, const User& filesOwner, const std::string& target,
                     const std::string& entries)
    {
        definition = folder + "/sku.xml";
        targetFile = folder + "/target_path.xml";
        makeFile(definition, filesOwner,
                 "<product><sku name='P'/><installFiles>" + entries + "</installFiles></product>");
        makeFile(targetFile, filesOwner, "<targetPath path='" + target + "'/>");
    }

    // Runs the installed tool as user (through sudo when asked), standard output and error together.
    RunProgram::Outcome runTool(const User* user, bool throughSudo)
    {
        RunProgram::Launch launch;
        launch.command = {tool, "-uninstall", definition, targetFile, "-v"};
        if (throughSudo)
            launch.command.insert(launch.command.begin(), {"/usr/bin/sudo", "-n"});
        if (user != nullptr)
        {
            launch.user = user->uid;
            launch.group = user->gid;
        }
        launch.output = RunProgram::Captured;
        launch.errors = RunProgram::Captured;
        return RunProgram::Run(launch, 30);
    }

    TemporaryFolder folder{"removalrights"};
    std::string base;
    std::string tool;
    std::string sudoers;
    std::string home;
    std::string definition;
    std::string targetFile;
    std::vector<std::string> mounts;
    User owner;
    User other;
};

} // namespace

// A user allowed to run the installed tool through sudo writes a definition for a target in their
// own folder, naming what only others may remove. The tool removes as that user: the kernel
// refuses the rest, and the mount check keeps a bind mount out.
TEST_F(RemovalRightsEndToEndTest, AUsersOwnDefinitionRemovesOnlyWhatThatUserCould)
{
    const std::string target = home + "/App";
    makeFolder(target, owner, 0755);
    makeFile(target + "/app", owner);
    // Another user's folder inside the user's target.
    makeFolder(target + "/Theirs", other, 0755);
    const Canary theirs = canary(target + "/Theirs/notes", other);
    // A sticky folder of root's, holding another user's file.
    makeFolder(target + "/Drop", User{}, 01777);
    const Canary dropped = canary(target + "/Drop/b.txt", other);
    // Root's folder outside the target, bound under a listed directory.
    makeFolder(base + "/outside", User{}, 0755);
    const Canary mounted = canary(base + "/outside/passwd", User{});
    makeFolder(target + "/Data/Mounted", owner, 0755);
    ASSERT_EQ(
        mount((base + "/outside").c_str(), (target + "/Data/Mounted").c_str(), nullptr, MS_BIND, nullptr), 0)
        << strerror(errno);
    mounts.push_back(target + "/Data/Mounted");
    // Another user's link, in a sticky folder outside the target, that looks like the shortcut.
    makeFolder(base + "/Desktop", User{}, 01777);
    ASSERT_EQ(symlink((target + "/app").c_str(), (base + "/Desktop/App").c_str()), 0);
    ASSERT_EQ(lchown((base + "/Desktop/App").c_str(), other.uid, other.gid), 0);
    struct stat linkStatus;
    ASSERT_EQ(lstat((base + "/Desktop/App").c_str(), &linkStatus), 0);

    writeInputs(
        home, owner, target,
        "<file fileName='app'><shortCut name='App' dir='" + base +
            "/Desktop'/></file>"
            "<directory fileName='Theirs'><file fileName='notes'/></directory>"
            "<directory fileName='Drop'><file fileName='b.txt'/></directory>"
            "<directory fileName='Data'><directory fileName='Mounted'><file fileName='passwd'/></directory>"
            "</directory>");
    const RunProgram::Outcome outcome = runTool(&owner, true);
    EXPECT_EQ(outcome.status, 1) << outcome.text;
    for (const std::string& line :
         {"removed " + target + "/app\n", "failed " + base + "/Desktop/App: Operation not permitted\n",
          "failed " + target + "/Theirs/notes: Permission denied\n",
          "failed " + target + "/Drop/b.txt: Operation not permitted\n",
          "failed " + target + "/Data/Mounted: on another mount, not entered\n"})
        EXPECT_NE(outcome.text.find(line), std::string::npos) << line << "in:\n" << outcome.text;
    for (const Canary& c : {theirs, dropped, mounted})
        expectIntact(c);
    struct stat after;
    ASSERT_EQ(lstat((base + "/Desktop/App").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, linkStatus.st_ino);
}

// Root runs an installation whose definition a user can write: the tool removes as that user.
TEST_F(RemovalRightsEndToEndTest, RootRunningAUserWritableInstallationRemovesOnlyWhatThatUserCould)
{
    const std::string data = base + "/Uninstall.app/Contents/Data";
    makeFolder(data, User{}, 0755);
    const std::string target = base + "/Product";
    makeFolder(target, User{}, 0755);
    const Canary rootFile = canary(target + "/system.conf", User{});
    makeFolder(target + "/Public", owner, 0755);
    makeFile(target + "/Public/cache", owner);
    writeInputs(
        data, User{}, target,
        "<file fileName='system.conf'/><directory fileName='Public'><file fileName='cache'/></directory>");
    ASSERT_EQ(chown(definition.c_str(), owner.uid, owner.gid), 0);

    const RunProgram::Outcome outcome = runTool(nullptr, false);
    EXPECT_EQ(outcome.status, 1) << outcome.text;
    EXPECT_NE(outcome.text.find("failed " + target + "/system.conf: Permission denied\n"), std::string::npos)
        << outcome.text;
    EXPECT_NE(outcome.text.find("removed " + target + "/Public/cache\n"), std::string::npos) << outcome.text;
    expectIntact(rootFile);
}

// Inputs of two users are refused before anything is read, with the same line however the tool
// was started.
TEST_F(RemovalRightsEndToEndTest, InputsOfTwoUsersAreRefusedTheSameWayHoweverTheToolStarts)
{
    const std::string target = home + "/App";
    makeFolder(target, owner, 0755);
    const Canary kept = canary(target + "/app", owner);
    writeInputs(home, owner, target, "<file fileName='app'/>");
    ASSERT_EQ(chown(targetFile.c_str(), other.uid, other.gid), 0);
    const std::string refusal =
        "refusing to remove: " + targetFile + " is owned by uid " + std::to_string(other.uid) + ", and " +
        home + " by uid " + std::to_string(owner.uid) +
        "; the tool, the definition, the target file and every folder above them must "
        "be writable by their owners alone, and belong to root or to one user\n";
    const RunProgram::Outcome direct = runTool(nullptr, false);
    const RunProgram::Outcome throughSudo = runTool(&owner, true);
    const RunProgram::Outcome asTheUser = runTool(&owner, false);
    for (const RunProgram::Outcome* outcome : {&direct, &throughSudo, &asTheUser})
    {
        EXPECT_EQ(outcome->status, 2);
        EXPECT_EQ(outcome->text, refusal);
    }
    expectIntact(kept);
}
