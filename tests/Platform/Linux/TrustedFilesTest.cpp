#include <unistd.h>

#include "PlatformTestFolder.h"
#include "TrustedFiles.h"

namespace
{

// A uid no account on the machine uses, standing for another user.
const uid_t kOtherUser = 54321;

class TrustedFilesTest : public PlatformTestFolder
{
protected:
    std::string Safe(const std::string& path, uid_t user)
    {
        return RealPathIfSafe(path.c_str(), user).ConstData();
    }

    // An installed bundle's three files, root-owned as the test runs as root.
    std::string Bundle(const std::string& name)
    {
        for (const char* file : {"InstallUtility", "sku.xml", "target_path.xml"})
            WriteFile(name + "/Contents/MacOS/" + file, "x", 0755);
        return Path(name);
    }
};

} // namespace

TEST_F(TrustedFilesTest, SafeWhenNoOneElseCanChangeAnyFolderOnTheWay)
{
    struct Case
    {
        const char* name;
        mode_t folderMode; // of "dir"
        mode_t fileMode;   // of "dir/file"
        bool safe;
    };
    const uid_t me = geteuid();
    for (Case c :
         {Case{"private", 0700, 0644, true}, Case{"shared read", 0755, 0755, true},
          Case{"world-writable folder", 0777, 0644, false}, Case{"group-writable folder", 0775, 0644, false},
          Case{"sticky world-writable folder", 01777, 0644, true},
          Case{"group-writable file", 0755, 0664, false}, Case{"world-writable file", 0755, 0646, false}})
    {
        std::string file = WriteFile("dir/file", "x", c.fileMode);
        chmod(Path("dir").c_str(), c.folderMode);
        EXPECT_EQ(Safe(file, me), c.safe ? file : "") << c.name;
        EXPECT_EQ(Safe(Path("dir"), me),
                  (c.folderMode & 022) == 0 || (c.folderMode & 01000) ? Path("dir") : "")
            << c.name;
        chmod(Path("dir").c_str(), 0700);
    }
    // Links resolve to the real path; what is neither a folder nor a regular file is never safe.
    chmod(Path("dir/file").c_str(), 0644);
    ASSERT_EQ(symlink("dir", Path("link").c_str()), 0);
    EXPECT_EQ(Safe(Path("link/file"), me), Path("dir/file"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(Safe(Path("fifo"), me), "");
    EXPECT_EQ(Safe(Path("missing"), me), "");
    EXPECT_EQ(Safe("", me), "");
    EXPECT_EQ(Safe("/", me), "/");
}

// Who controls an installation: root alone (rights are asked for), one user (the tool runs as that
// user, even when root starts it), or no one user (refused, naming the item).
TEST_F(TrustedFilesTest, InstallationsAreRootsOrOneUsersOrRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "root-owned and user-owned installations need root to lay out";
    struct Case
    {
        const char* name;
        const char* ownedByUser;  // chowned to kOtherUser, under the bundle; "" for none
        const char* ownedByThird; // chowned to a third uid
        const char* groupWritable;
        bool roots;
        int user; // the controlling user, or -1 when refused
    };
    const Case cases[] = {
        {"root's", "", "", "", true, 0},
        {"a user's folder above", "Contents", "", "", false, int(kOtherUser)},
        {"a user's tool", "Contents/MacOS/InstallUtility", "", "", false, int(kOtherUser)},
        {"a data file others may write", "", "", "Contents/MacOS/sku.xml", false, 0},
        {"two users", "Contents", "Contents/MacOS/InstallUtility", "", false, -1},
        {"a tool others may write", "", "", "Contents/MacOS/InstallUtility", false, -1},
    };
    for (const Case& c : cases)
    {
        const std::string bundle = Bundle(std::string("opt/") + c.name + ".app");
        for (const auto& [item, uid] :
             {std::pair{c.ownedByUser, kOtherUser}, std::pair{c.ownedByThird, kOtherUser + 1}})
            ASSERT_TRUE(!*item || chown((bundle + "/" + item).c_str(), uid, uid) == 0) << item;
        if (*c.groupWritable)
            chmod((bundle + "/" + c.groupWritable).c_str(), 0775);
        const std::string folder = bundle + "/Contents/MacOS/";
        RemovalFiles files{(folder + "InstallUtility").c_str(), (folder + "sku.xml").c_str(),
                           (folder + "target_path.xml").c_str()};
        ASSERT_TRUE(ResolveRemovalFiles(files).IsDone()) << c.name;
        EXPECT_EQ(IsRootsInstallation(files), c.roots) << c.name;
        uid_t user = 1;
        gid_t group = 1;
        const Status controlled = ControllingUser(files.tool, user, group);
        const std::string why = controlled.Text().ConstData();
        EXPECT_EQ(controlled.IsDone(), c.user >= 0) << c.name << ": " << why;
        // The user found, or the refusal naming the item.
        EXPECT_TRUE(c.user >= 0 ? int(user) == c.user : why.find(bundle) != std::string::npos)
            << c.name << ": " << why;
    }

    // A missing file is named.
    const std::string folder = Bundle("opt/Demo.app") + "/Contents/MacOS/";
    std::filesystem::remove(folder + "target_path.xml");
    RemovalFiles incomplete{(folder + "InstallUtility").c_str(), (folder + "sku.xml").c_str(),
                            (folder + "target_path.xml").c_str()};
    EXPECT_EQ(std::string(ResolveRemovalFiles(incomplete).Text().ConstData()),
              folder + "target_path.xml: No such file or directory");
}
