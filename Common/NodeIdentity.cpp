#include "NodeIdentity.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

Result<NodeIdentity> IdentifyNode(int directoryFd, const char* name)
{
    const int flags = AT_SYMLINK_NOFOLLOW | (*name == '\0' ? AT_EMPTY_PATH : 0);
    NodeIdentity identity;
    struct statx status;
    if (statx(directoryFd, name, flags, STATX_INO | STATX_MNT_ID, &status) == 0)
    {
        identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
        identity.inode = status.stx_ino;
        identity.mount = (status.stx_mask & STATX_MNT_ID) != 0 ? status.stx_mnt_id : identity.device;
        return identity;
    }
    if (errno != ENOSYS)
        return Status::FromErrno(*name == '\0' ? "." : name);
    // A kernel before statx, or a sandbox that forbids it.
    struct stat plain;
    if (fstatat(directoryFd, name, &plain, flags) != 0)
        return Status::FromErrno(*name == '\0' ? "." : name);
    identity.device = plain.st_dev;
    identity.inode = plain.st_ino;
    identity.mount = plain.st_dev;
    return identity;
}
