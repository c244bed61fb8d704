#include "WholeRemoval.h"
#include "DryRunDiskChanges.h"
#include "FileDescriptor.h"
#include "RemovalFixture.h"
#include "TreeRemoval.h"

namespace
{

class WholeRemovalTest : public RemovalFixture
{
protected:
    // Empties the directory at path through WholeRemoval, guarded for the fixture's target,
    // and returns its report ("RELATIVE/PATH: reason").
    std::string removeContents(const std::string& path, bool dryRun)
    {
        RealDiskChanges realChanges;
        DryRunDiskChanges dryRunChanges;
        const Result<NodeIdentity> targetIdentity = IdentifyNode(AT_FDCWD, target.c_str());
        const Result<NodeIdentity> rootIdentity = IdentifyNode(AT_FDCWD, "/");
        EXPECT_TRUE(targetIdentity.IsDone() && rootIdentity.IsDone());
        const RemovalGuard guard(TqString(target.c_str()),
                                 targetIdentity.IsDone() ? targetIdentity.Value() : NodeIdentity(),
                                 rootIdentity.IsDone() ? rootIdentity.Value() : NodeIdentity());
        const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        EXPECT_TRUE(fd.IsOpen()) << path;
        const Status failure = WholeRemoval::RemoveContents(
            fd.Get(), dryRun ? static_cast<DiskChanges&>(dryRunChanges) : realChanges, guard);
        return failure.IsDone() ? "" : failure.Text().ConstData();
    }

    // A bundle with nested folders, a link to a file outside and a link to a folder outside.
    void makeBundle(const std::string& bundle)
    {
        writeFile(bundle + "/Contents/Info.plist", "<plist/>");
        writeFile(bundle + "/Contents/MacOS/App", "#!/bin/sh");
        writeFile(bundle + "/Contents/Resources/en.lproj/a.strings", "a");
        makeDirectory(bundle + "/Contents/Empty");
        makeLink(outside + "/canary.txt", bundle + "/Contents/FileLink");
        makeLink(outside, bundle + "/Contents/Resources/FolderLink");
        makeLink("/nonexistent/dangling", bundle + "/Dangling");
    }
};

} // namespace

TEST_F(WholeRemovalTest, EmptiesTheDirectoryWithoutFollowingLinksAndADryRunChangesNothing)
{
    const std::string bundle = target + "/App.bundle";
    makeBundle(bundle);
    writeFile(outside + "/folder/inner.txt", "inner");
    const std::vector<std::string> before = listing(base);
    EXPECT_EQ(removeContents(bundle, true), "");
    EXPECT_EQ(listing(base), before);

    const std::vector<std::string> outsideBefore = listing(outside);
    EXPECT_EQ(removeContents(bundle, false), "");
    EXPECT_TRUE(exists(bundle));
    EXPECT_TRUE(listing(bundle).empty());
    EXPECT_EQ(listing(outside), outsideBefore);
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
    EXPECT_EQ(readFile(outside + "/folder/inner.txt"), "inner");
}

TEST_F(WholeRemovalTest, DoesNotEnterAnotherMount)
{
    const std::string bundle = target + "/App.bundle";
    makeBundle(bundle);
    std::string reason;
    if (!mountTmpfs(bundle + "/Contents/Mounted", reason))
        GTEST_SKIP() << reason;
    writeFile(bundle + "/Contents/Mounted/canary.txt", "mounted canary");

    EXPECT_EQ(removeContents(bundle, true), "Contents/Mounted: on another mount, not entered");
    EXPECT_TRUE(exists(bundle + "/Contents/Info.plist"));

    EXPECT_EQ(removeContents(bundle, false), "Contents/Mounted: on another mount, not entered");
    EXPECT_EQ(readFile(bundle + "/Contents/Mounted/canary.txt"), "mounted canary");
    // The rest went all the same.
    EXPECT_FALSE(exists(bundle + "/Contents/Info.plist"));
    EXPECT_FALSE(exists(bundle + "/Contents/MacOS"));
    EXPECT_FALSE(exists(bundle + "/Dangling"));
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
}

TEST_F(WholeRemovalTest, ReportsWhatCouldNotGo)
{
    const std::string bundle = target + "/App.bundle";
    writeFile(bundle + "/Contents/Locked/file.txt", "locked");
    writeFile(bundle + "/Contents/Other.txt", "other");
    std::string reason;
    if (!makeImmutable(bundle + "/Contents/Locked/file.txt", reason))
        GTEST_SKIP() << reason;

    EXPECT_EQ(removeContents(bundle, false), "Contents/Locked/file.txt: Operation not permitted");
    EXPECT_TRUE(exists(bundle + "/Contents/Locked/file.txt"));
    EXPECT_FALSE(exists(bundle + "/Contents/Other.txt"));
}

TEST_F(WholeRemovalTest, StopsAtAnUnreasonableDepth)
{
    const std::string bundle = target + "/Deep.bundle";
    makeDirectory(bundle);
    int fd = open(bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (unsigned level = 0; level < TreeRemoval::maxDepth + 5 && fd >= 0; ++level)
    {
        ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    close(fd);
    writeFile(bundle + "/top.txt", "top");
    std::string middle = bundle;
    for (unsigned level = 0; level < 200; ++level)
        middle += "/d";
    writeFile(middle + "/middle.txt", "middle");

    // Said once, with how deep it stopped; what lay above went.
    EXPECT_EQ(removeContents(bundle, false),
              "d/d/...: nested deeper than 256 folders; removed what lay above");
    EXPECT_FALSE(exists(bundle + "/top.txt"));
    EXPECT_FALSE(exists(middle + "/middle.txt"));
    EXPECT_TRUE(exists(bundle + "/d"));

    // A bundle exactly at the limit goes whole.
    const std::string shallow = target + "/Shallow.bundle";
    std::string path = shallow;
    for (unsigned level = 0; level < TreeRemoval::maxDepth; ++level)
        path += "/d";
    writeFile(path + "/bottom.txt", "b");
    EXPECT_EQ(removeContents(shallow, false), "");
    EXPECT_TRUE(listing(shallow).empty());
}
