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

TEST_F(ProtectedPathTest, EveryFolderAndLinkOnTheWayCounts)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another uid";
    if (!problem(base).empty())
        GTEST_SKIP() << "the temporary folder is not root's alone: " << problem(base);
    const uid_t user = 4242;
    // The cases below assume items are made writable by their owner alone.
    const mode_t savedMask = umask(022);
    writeFile(base + "/file", "x");
    writeFile(base + "/open/file", "x");
    writeFile(base + "/sticky/file", "x");
    writeFile(base + "/mine/file", "x");
    chmod((base + "/open").c_str(), 0777);
    chmod((base + "/sticky").c_str(), 01777);
    chown((base + "/mine").c_str(), user, 0);
    chown((base + "/mine/file").c_str(), user, 0);
    writeFile(base + "/shared", "x");
    chmod((base + "/shared").c_str(), 0664);
    makeLink(base + "/file", base + "/sticky/rootlink");
    makeLink(base + "/file", base + "/sticky/userlink");
    ASSERT_EQ(lchown((base + "/sticky/userlink").c_str(), user, 0), 0);
    makeLink("../open/file", base + "/sticky/intoopen");

    const struct
    {
        std::string path;
        uid_t owner;
        std::string expected;
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(problem(c.path, c.owner), c.expected) << c.path;

    // A relative path is taken from the working folder.
    char working[4096];
    ASSERT_NE(getcwd(working, sizeof working), nullptr);
    ASSERT_EQ(chdir((base + "/open").c_str()), 0);
    EXPECT_EQ(problem("file"), base + "/open is writable by group or others");
    ASSERT_EQ(chdir(working), 0);
    umask(savedMask);
}

TEST_F(ProtectedPathTest, TheControllerIsRootOrTheOneUserWhoOwnsPartOfThePath)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to other uids";
    if (!problem(base).empty())
        GTEST_SKIP() << "the temporary folder is not root's alone: " << problem(base);
    const mode_t savedMask = umask(022);
    writeFile(base + "/root/file", "x");
    writeFile(base + "/one/file", "x");
    writeFile(base + "/one/rootfile", "x");
    writeFile(base + "/two/file", "x");
    writeFile(base + "/group/file", "x");
    writeFile(base + "/sticky/file", "x");
    chown((base + "/one").c_str(), 4242, 0);
    chown((base + "/one/file").c_str(), 4242, 0);
    chown((base + "/two").c_str(), 4242, 0);
    chown((base + "/two/file").c_str(), 4243, 0);
    chmod((base + "/group").c_str(), 0775);
    chmod((base + "/sticky").c_str(), 01777);
    chown((base + "/sticky/file").c_str(), 4243, 0);
    // A link of one user to a file of another.
    makeLink(base + "/two/file", base + "/one/link");
    ASSERT_EQ(lchown((base + "/one/link").c_str(), 4242, 0), 0);

    const struct
    {
        std::string path;
        uid_t owner;
        std::string failure;
    } cases[] = {
        {base + "/root/file", 0, ""},
        {base + "/one/file", 4242, ""},
        {base + "/one/rootfile", 4242, ""},
        {base + "/two/file", 0, base + "/two/file is owned by uid 4243, and " + base + "/two by uid 4242"},
        {base + "/one/link", 0, base + "/two/file is owned by uid 4243, and " + base + "/one by uid 4242"},
        {base + "/group/file", 0, base + "/group is writable by group or others"},
        // A sticky folder may be written by all, as a folder above and as the last item.
        {base + "/sticky/file", 4243, ""},
        {base + "/sticky", 0, ""},
    };
    for (const auto& c : cases)
    {
        uid_t owner = 99;
        const Status status = ProtectedPath::Controller(c.path.c_str(), owner);
        EXPECT_EQ(status.Message().IsSet() ? status.Message().ConstData() : "", c.failure) << c.path;
        if (c.failure.empty())
        {
            EXPECT_EQ(owner, c.owner) << c.path;
        }
    }
    umask(savedMask);
}
