#include "WholeRemoval.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

#include "FileDescriptor.h"
#include "FolderListing.h"

namespace
{

bool isDirectory(int folderFd, const dirent& entry)
{
    if (entry.d_type != DT_UNKNOWN)
        return entry.d_type == DT_DIR;
    struct stat status;
    return fstatat(folderFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}

class ContentsRemover
{
public:
    ContentsRemover(DiskChanges& changes, const RemovalGuard& guard, uint64_t mount)
        : changes(changes), guard(guard), mount(mount)
    {
    }

    // where is the relative path of the directory, with a trailing "/" unless it is the top.
    void removeContents(int directoryFd, const std::string& where, unsigned depth)
    {
        FolderListing listing(directoryFd);
        if (listing.Error() != 0)
            return fail(where, ".", strerror(listing.Error()));
        while (const dirent* entry = listing.Next())
        {
            if (!isDirectory(directoryFd, *entry))
                settle(where, entry->d_name, changes.RemoveName(directoryFd, entry->d_name));
            else if (enterAndEmpty(directoryFd, entry->d_name, where, depth + 1))
                settle(where, entry->d_name, changes.RemoveEmptyDirectory(directoryFd, entry->d_name));
        }
    }

    std::optional<Failure> firstFailure;

private:
    // Whether the directory name could be entered; its contents are then removed.
    bool enterAndEmpty(int parentFd, const char* name, const std::string& where, unsigned depth)
    {
        // Each level holds a descriptor and a stack frame; no real bundle comes near this.
        if (depth > WholeRemoval::maxDepth)
        {
            fail(where, name, "nested too deeply");
            return false;
        }
        // O_NOFOLLOW: if the entry was swapped for a link since it was listed, this fails
        // instead of entering wherever the link points.
        const FileDescriptor directory(
            openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!directory.IsOpen())
        {
            settle(where, name, errno);
            return false;
        }
        NodeIdentity identity;
        const char* refusal = IdentifyNode(directory.Get(), "", identity)
                                  ? guard.EntryRefusal(identity, mount)
                                  : strerror(errno);
        if (refusal != nullptr)
        {
            fail(where, name, refusal);
            return false;
        }
        removeContents(directory.Get(), where + name + "/", depth);
        return true;
    }

    // What another removal took meanwhile is gone all the same.
    void settle(const std::string& where, const char* name, int error)
    {
        if (error != 0 && error != ENOENT)
            fail(where, name, strerror(error));
    }

    void fail(const std::string& where, const char* name, const char* reason)
    {
        if (!firstFailure)
        {
            const std::string path = where + name;
            firstFailure = Failure{TqString(path.data(), path.size()), TqString(reason)};
        }
    }

    DiskChanges& changes;
    const RemovalGuard& guard;
    uint64_t mount;
};

} // namespace

std::optional<Failure> WholeRemoval::RemoveContents(int directoryFd, uint64_t mount, DiskChanges& changes,
                                                    const RemovalGuard& guard)
{
    ContentsRemover remover(changes, guard, mount);
    remover.removeContents(directoryFd, "", 0);
    return remover.firstFailure;
}
