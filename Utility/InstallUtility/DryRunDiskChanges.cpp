#include "DryRunDiskChanges.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <tuple>
#include <unistd.h>

#include "FailureReason.h"
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

int DryRunDiskChanges::foreseeRefusal(int folderFd, const char* name, struct stat& entry)
{
    // A read-only file system refuses before it looks for the name.
    struct statvfs fileSystem;
    if (fstatvfs(folderFd, &fileSystem) == 0 && (fileSystem.f_flag & ST_RDONLY) != 0)
        return EROFS;
    if (fstatat(folderFd, name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    // Write and search on the folder, as the system grants them to the effective user (root's
    // capabilities and access lists included); an immutable folder says EPERM here.
    if (faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    if (ProtectionFlags(folderFd, "") != 0)
        return EPERM;
    struct stat folder;
    if (fstat(folderFd, &folder) != 0)
        return errno;
    // In a sticky folder only the entry's owner, the folder's owner or root may remove it.
    const uid_t user = geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && user != 0 && entry.st_uid != user && folder.st_uid != user)
        return EPERM;
    if (ProtectionFlags(folderFd, name) != 0)
        return EPERM;
    return 0;
}

Status DryRunDiskChanges::RemoveName(int folderFd, const char* name)
{
    const int error = removeName(folderFd, name);
    return error == 0 ? Status::Done() : Status::Failed(error, name);
}

Status DryRunDiskChanges::RemoveEmptyDirectory(int folderFd, const char* name)
{
    const int error = removeEmptyDirectory(folderFd, name);
    return error == 0 ? Status::Done() : Status::Failed(error, name);
}

int DryRunDiskChanges::foresee(int folderFd, const char* name, Entry& entry, struct stat& status) const
{
    if (const int error = identify(folderFd, name, entry))
        return error;
    if (gone.count(entry) != 0)
        return ENOENT;
    return foreseeRefusal(folderFd, name, status);
}

int DryRunDiskChanges::removeName(int folderFd, const char* name)
{
    Entry entry;
    struct stat status;
    if (const int error = foresee(folderFd, name, entry, status))
        return error;
    if (S_ISDIR(status.st_mode))
        return EISDIR;
    gone.insert(std::move(entry));
    return 0;
}

int DryRunDiskChanges::removeEmptyDirectory(int folderFd, const char* name)
{
    Entry entry;
    struct stat status;
    if (const int error = foresee(folderFd, name, entry, status))
        return error;
    // Removing a link to a directory says "not a directory", as for any other non-directory.
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    const FileDescriptor directory(openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.IsOpen())
        return errno == ELOOP ? ENOTDIR : errno;
    // A folder something is mounted on stays, empty or not.
    NodeIdentity folder;
    NodeIdentity inside;
    if (IdentifyNode(folderFd, "", folder) && IdentifyNode(directory.Get(), "", inside) &&
        folder.mount != inside.mount)
        return EBUSY;
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
