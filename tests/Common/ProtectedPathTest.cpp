#include "ProtectedPath.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

namespace
{

class ProtectedPathTest : public ::testing::Test
{
protected:
    static void writeFile(const std::string& path, const std::string& text)
    {
        TemporaryFolder::WriteFile(path, text);
    }
    static void makeLink(const std::string& pointsAt, const std::string& path)
    {
        ASSERT_EQ(symlink(pointsAt.c_str(), path.c_str()), 0) << path;
    }

    std::string problem(const std::string& path, uid_t owner = 0)
    {
        return ProtectedPath::Check(path.c_str(), owner).Message().ConstData();
    }

    TemporaryFolder folder{"protectedpath"};
    const std::string base = folder.path();
};

} // namespace

// Check with a fixed owner, and Controller, which learns the one non-root owner on the way.
TEST_F(ProtectedPathTest, EveryFolderAndLinkOnTheWayCountsForTheOwnerAndTheController)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to other uids";
    if (!problem(base).empty())
        GTEST_SKIP() << "the temporary folder is not root's alone: " << problem(base);
    const uid_t user = 4242;
    // The cases below assume items are made writable by their owner alone.
    const mode_t savedMask = umask(022);
    for (const char* file : {"/file", "/open/file", "/sticky/file", "/sticky/theirs", "/mine/file",
                             "/mine/rootfile", "/two/file", "/shared"})
        writeFile(base + file, "x");
    chmod((base + "/open").c_str(), 0777);
    chmod((base + "/sticky").c_str(), 01777);
    chmod((base + "/shared").c_str(), 0664);
    for (const char* mine : {"/mine", "/mine/file", "/two"})
        chown((base + mine).c_str(), user, 0);
    chown((base + "/two/file").c_str(), user + 1, 0);
    chown((base + "/sticky/theirs").c_str(), user + 1, 0);
    makeLink(base + "/file", base + "/sticky/rootlink");
    makeLink(base + "/file", base + "/sticky/userlink");
    ASSERT_EQ(lchown((base + "/sticky/userlink").c_str(), user, 0), 0);
    makeLink("../open/file", base + "/sticky/intoopen");
    // A link of one user to a file of another.
    makeLink(base + "/two/file", base + "/mine/link");
    ASSERT_EQ(lchown((base + "/mine/link").c_str(), user, 0), 0);

    const std::string onProc =
        " is on the process file system, whose links stand for what a process holds open, not for a path";
    const struct
    {
        std::string path;
        uid_t owner; // Check's fixed owner, or the owner Controller must learn
        std::string expected;
        bool learns = false; // through Controller
    } cases[] = {
        {base + "/file", 0, ""},
        {base + "/./sticky/../file", 0, ""},
        {base + "/sticky/file", 0, ""},
        {base + "/sticky/rootlink", 0, ""},
        {base + "/shared", 0, base + "/shared is writable by group or others"},
        {base + "/open/file", 0, base + "/open is writable by group or others"},
        // In a sticky folder the link's owner may replace it.
        {base + "/sticky/userlink", 0, base + "/sticky/userlink is owned by uid 4242"},
        {base + "/sticky/intoopen", 0, base + "/open is writable by group or others"},
        {base + "/mine/file", 0, base + "/mine is owned by uid 4242"},
        {base + "/mine/file", user, ""},
        {base + "/file/x", 0, base + "/file is not a folder"},
        {base + "/absent", 0, base + "/absent: No such file or directory"},
        {base + "/file", 0, "", true},
        {base + "/mine/file", user, "", true},
        {base + "/mine/rootfile", user, "", true},
        {base + "/two/file", 0, base + "/two/file is owned by uid 4243, and " + base + "/two by uid 4242",
         true},
        {base + "/mine/link", 0, base + "/two/file is owned by uid 4243, and " + base + "/mine by uid 4242",
         true},
        {base + "/open/file", 0, base + "/open is writable by group or others", true},
        // A sticky folder may be written by all, as a folder above and as the last item.
        {base + "/sticky/theirs", user + 1, "", true},
        {base + "/sticky", 0, "", true},
        // Process files name what a process holds open, perhaps in another mount namespace.
        {"/dev/stdin", 0, "/proc" + onProc, true},
        {"/proc/self/fd/0", 0, "/proc" + onProc, true},
        {"/proc/self/root" + base + "/file", 0, "/proc" + onProc},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path + (c.learns ? " (Controller)" : ""));
        const Result<uid_t> owner = c.learns ? ProtectedPath::Controller(c.path.c_str()) : Result<uid_t>(99);
        const Status status = c.learns ? owner.GetStatus() : ProtectedPath::Check(c.path.c_str(), c.owner);
        EXPECT_EQ(status.Message().IsSet() ? status.Message().ConstData() : "", c.expected);
        if (c.learns && c.expected.empty())
        {
            EXPECT_EQ(owner.IsDone() ? owner.Value() : 99, c.owner); // no case's owner is 99
        }
    }

    // A relative path is taken from the working folder.
    char working[4096];
    ASSERT_NE(getcwd(working, sizeof working), nullptr);
    ASSERT_EQ(chdir((base + "/open").c_str()), 0);
    EXPECT_EQ(problem("file"), base + "/open is writable by group or others");
    ASSERT_EQ(chdir(working), 0);
    umask(savedMask);
}
