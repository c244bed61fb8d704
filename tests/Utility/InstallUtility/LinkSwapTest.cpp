#include "FileDescriptor.h"
#include "FileServices.h"
#include "RemovalFixture.h"
#include "WholeRemoval.h"

#include <functional>

namespace
{

// Makes the changes it is handed, but on its first call swaps every folder of the emptied folder
// except the one the call is made in for a link to the canary folder outside: an attacker racing
// the walk between its listing and its opening.
class SwappingChanges : public DiskChanges
{
public:
    SwappingChanges(DiskChanges& changes, std::string emptied, std::string canary, std::string aside)
        : changes(changes), emptied(std::move(emptied)), canary(std::move(canary)), aside(std::move(aside))
    {
    }

    int RemoveName(int folderFd, const char* name) override
    {
        swapOnce(folderFd);
        return changes.RemoveName(folderFd, name);
    }
    int RemoveEmptyDirectory(int folderFd, const char* name) override
    {
        swapOnce(folderFd);
        return changes.RemoveEmptyDirectory(folderFd, name);
    }
    void PrepareToEmpty(int folderFd) override { changes.PrepareToEmpty(folderFd); }

    int swapped = 0;

private:
    void swapOnce(int folderFd)
    {
        if (done)
            return;
        done = true;
        NodeIdentity here;
        NodeIdentity folder;
        ASSERT_TRUE(IdentifyNode(folderFd, "", here));
        for (const char* name : {"a", "b", "c"})
        {
            const std::string path = emptied + "/" + name;
            ASSERT_TRUE(IdentifyNode(AT_FDCWD, path.c_str(), folder));
            if (folder == here)
                continue;
            ASSERT_EQ(rename(path.c_str(), (aside + "/" + name).c_str()), 0);
            ASSERT_EQ(symlink(canary.c_str(), path.c_str()), 0);
            ++swapped;
        }
    }

    DiskChanges& changes;
    std::string emptied;
    std::string canary;
    std::string aside;
    bool done = false;
};

class LinkSwapTest : public RemovalFixture
{
protected:
    // Empties (and removes) the folder at path through changes; the first failure, "" when none.
    using Removal = std::function<std::string(const std::string& path, DiskChanges& changes)>;

    void expectNoLinkFollowed(const std::string& bundle, const Removal& removal)
    {
        const std::string emptied = target + "/" + bundle;
        const std::string aside = base + "/aside-" + bundle;
        for (const char* name : {"a", "b", "c"})
            writeFile(emptied + "/" + name + "/file", name);
        writeFile(outside + "/inner/canary.txt", "inner canary");
        makeDirectory(aside);
        const std::vector<std::string> outsideBefore = snapshot(outside);

        OwnerWritableChanges real;
        SwappingChanges swapping(real, emptied, outside, aside);
        EXPECT_EQ(removal(emptied, swapping), "");
        EXPECT_EQ(swapping.swapped, 2);
        EXPECT_EQ(snapshot(outside), outsideBefore);
        // The links went as links.
        EXPECT_FALSE(exists(emptied + "/a") || exists(emptied + "/b") || exists(emptied + "/c"));
    }
};

} // namespace

TEST_F(LinkSwapTest, AFolderSwappedForALinkIsNeverEnteredByEitherUserOfTheWalk)
{
    // The removal tool's, for a bundle listed as one entry.
    expectNoLinkFollowed("App.bundle", [this](const std::string& path, DiskChanges& changes) {
        NodeIdentity targetIdentity;
        NodeIdentity rootIdentity;
        EXPECT_TRUE(IdentifyNode(AT_FDCWD, target.c_str(), targetIdentity));
        EXPECT_TRUE(IdentifyNode(AT_FDCWD, "/", rootIdentity));
        const RemovalGuard guard(TqString(target.c_str()), targetIdentity, rootIdentity);
        const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const Status status = WholeRemoval::RemoveContents(fd.Get(), changes, guard);
        return std::string(status.Text().ConstData());
    });
    // The uninstaller's, for its own copy.
    expectNoLinkFollowed("Copy.app", [](const std::string& path, DiskChanges& changes) {
        const Status status = RemoveTree(TqString(path.c_str()), changes);
        EXPECT_FALSE(exists(path));
        return std::string(status.Text().ConstData());
    });
}
