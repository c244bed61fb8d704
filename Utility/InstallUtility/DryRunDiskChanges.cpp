#include "DryRunDiskChanges.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>

#include "FileDescriptor.h"
#include "FolderListing.h"
#include "NodeIdentity.h"

bool DryRunDiskChanges::Entry::operator<(const Entry& other) const
{
    return std::tie(device, inode, name) < std::tie(other.device, other.inode, other.name);
}

int DryRunDiskChanges::identify(int folderFd, const char* name, Entry& entry)
{
    NodeIdentity folder;
    if (!IdentifyNode(folderFd, "", folder))
        return errno;
    entry.device = folder.device;
    entry.inode = folder.inode;
    entry.name = name;
    return 0;
}

int DryRunDiskChanges::RemoveName(int folderFd, const char* name)
{
    Entry entry;
    if (const int error = identify(folderFd, name, entry))
        return error;
    if (gone.count(entry) != 0)
        return ENOENT;
    struct stat status;
    if (fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (S_ISDIR(status.st_mode))
        return EISDIR;
    gone.insert(std::move(entry));
    return 0;
}

int DryRunDiskChanges::RemoveEmptyDirectory(int folderFd, const char* name)
{
    Entry entry;
    if (const int error = identify(folderFd, name, entry))
        return error;
    if (gone.count(entry) != 0)
        return ENOENT;
    const FileDescriptor directory(openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // Removing a directory names a link "not a directory"; opening one without following says ELOOP.
    if (!directory.IsOpen())
        return errno == ELOOP ? ENOTDIR : errno;
    const int error = emptiness(directory.Get());
    if (error == 0)
        gone.insert(std::move(entry));
    return error;
}

int DryRunDiskChanges::emptiness(int directoryFd) const
{
    Entry inside;
    FolderListing listing(directoryFd);
    if (identify(directoryFd, "", inside) != 0 || listing.Error() != 0)
        return ENOTEMPTY;
    while (const dirent* found = listing.Next())
    {
        inside.name = found->d_name;
        if (gone.count(inside) == 0)
            return ENOTEMPTY;
    }
    return 0;
}
