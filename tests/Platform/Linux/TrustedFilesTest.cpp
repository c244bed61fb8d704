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

TEST_F(TrustedFilesTest, RemovalFilesAreTheInstalledOnesOnlyWhenRootAloneOwnsThem)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "root-owned and user-owned installations need root to lay out";
    std::string copy = Bundle("tmp/copy/Uninstall.app") + "/Contents/MacOS/";
    auto choose = [&](uid_t user, const std::string& installed, bool* allowed)
    {
        RemovalFiles files{(copy + "InstallUtility").c_str(), (copy + "sku.xml").c_str(),
                           (copy + "target_path.xml").c_str()};
        *allowed = ChooseRemovalFiles(user, installed.c_str(), files);
        return std::string(files.tool.ConstData()) + " " + files.definition.ConstData() + " " +
               files.targetPathFile.ConstData();
    };
    auto expected = [](const std::string& folder)
    { return folder + "InstallUtility " + folder + "sku.xml " + folder + "target_path.xml"; };
    bool allowed = false;

    std::string rootOwned = Bundle("opt/Demo.app");
    EXPECT_EQ(choose(kOtherUser, rootOwned, &allowed), expected(rootOwned + "/Contents/MacOS/"));
    EXPECT_TRUE(allowed);
    // Reached through a link, the real paths are handed on.
    ASSERT_EQ(symlink(Path("opt").c_str(), Path("opt-link").c_str()), 0);
    EXPECT_EQ(choose(kOtherUser, Path("opt-link/Demo.app"), &allowed),
              expected(rootOwned + "/Contents/MacOS/"));
    // Without the installed path, or without a data file, the copy's files stay.
    EXPECT_EQ(choose(kOtherUser, "", &allowed), expected(copy));
    std::string incomplete = Bundle("opt/Incomplete.app");
    std::filesystem::remove(incomplete + "/Contents/MacOS/target_path.xml");
    EXPECT_EQ(choose(kOtherUser, incomplete, &allowed), expected(copy));
    // An installation the user (or anyone but root) may change is not run from.
    std::string userOwned = Bundle("home/Demo.app");
    ASSERT_EQ(chown(Path("home/Demo.app/Contents").c_str(), kOtherUser, kOtherUser), 0);
    EXPECT_EQ(choose(kOtherUser, userOwned, &allowed), expected(copy));
    EXPECT_TRUE(allowed);
    chmod((rootOwned + "/Contents/MacOS/sku.xml").c_str(), 0664);
    EXPECT_EQ(choose(kOtherUser, rootOwned, &allowed), expected(copy));

    // Root runs its own copy, and only from where no one else can change it.
    EXPECT_EQ(choose(0, rootOwned, &allowed), expected(copy));
    EXPECT_TRUE(allowed);
    chmod(Path("tmp").c_str(), 0777);
    choose(0, rootOwned, &allowed);
    EXPECT_FALSE(allowed);
}
