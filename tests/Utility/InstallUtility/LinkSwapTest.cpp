#include "FileDescriptor.h"
#include "FileServices.h"
#include "RemovalFixture.h"
#include "WholeRemoval.h"

#include <functional>

namespace
{

// The changes it is handed, but at its first change it swaps every folder of emptied except the one
// the change is made in for a link to canary: an attacker racing the walk between listing and opening.
struct SwappingChanges : DiskChanges
{
    SwappingChanges(DiskChanges& inner, std::string swappedFolder, std::string canaryPath,
                    std::string asideFolder)
        : changes(inner), emptied(std::move(swappedFolder)), canary(std::move(canaryPath)),
          aside(std::move(asideFolder))
    {
    }
    Status RemoveName(int fd, const char* name) override
    {
        return swapOnce(fd), changes.RemoveName(fd, name);
    }
    Status RemoveEmptyDirectory(int fd, const char* name) override
    {
        return swapOnce(fd), changes.RemoveEmptyDirectory(fd, name);
    }
    void PrepareToEmpty(int fd) override { changes.PrepareToEmpty(fd); }

    void swapOnce(int folderFd)
    {
        const Result<NodeIdentity> here = IdentifyNode(folderFd, "");
        for (const char* name : {"a", "b", "c"})
        {
            const std::string path = emptied + "/" + name;
            const Result<NodeIdentity> folder = IdentifyNode(AT_FDCWD, path.c_str());
            if (!done && here.IsDone() && folder.IsDone() && !(folder.Value() == here.Value()))
                swapped += rename(path.c_str(), (aside + "/" + name).c_str()) == 0 &&
                           symlink(canary.c_str(), path.c_str()) == 0;
        }
        done = true;
    }

    DiskChanges& changes;
    std::string emptied, canary, aside;
    bool done = false;
    int swapped = 0;
};

using LinkSwapTest = RemovalFixture;

} // namespace

// An entry swapped for a link between the listing and the opening: both users of the one walk
// remove the link and never enter it.
TEST_F(LinkSwapTest, AFolderSwappedForALinkIsNeverEnteredByEitherUserOfTheWalk)
{
    const Result<NodeIdentity> targetIdentity = IdentifyNode(AT_FDCWD, target.c_str());
    const Result<NodeIdentity> rootIdentity = IdentifyNode(AT_FDCWD, "/");
    ASSERT_TRUE(targetIdentity.IsDone() && rootIdentity.IsDone());
    const RemovalGuard guard(TqString(target.c_str()), targetIdentity.Value(), rootIdentity.Value());
    writeFile(outside + "/inner/canary.txt", "inner canary");
    const std::vector<std::string> outsideBefore = snapshot(outside);
    const std::function<Status(const std::string&, DiskChanges&)> users[] = {
        [&guard](const std::string& path, DiskChanges& changes) { // the tool's, for a listed bundle
            const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            return WholeRemoval::RemoveContents(fd.Get(), changes, guard);
        },
        [](const std::string& path, DiskChanges& changes) { // the uninstaller's, for its copy
            return RemoveTreeAt(AT_FDCWD, path.c_str(), changes);
        }};
    for (const auto& removal : users)
    {
        const std::string emptied = target + "/App.bundle";
        const std::string aside = base + "/aside-" + std::to_string(&removal - users);
        for (const char* name : {"a", "b", "c"})
            writeFile(emptied + "/" + name + "/file", name);
        makeDirectory(aside);
        OwnerWritableChanges real;
        SwappingChanges swapping(real, emptied, outside, aside);
        EXPECT_EQ(std::string(removal(emptied, swapping).Text().ConstData()), "");
        EXPECT_EQ(swapping.swapped, 2);
        EXPECT_EQ(snapshot(outside), outsideBefore);
        EXPECT_FALSE(exists(emptied + "/a") || exists(emptied + "/b") || exists(emptied + "/c"));
    }
}
