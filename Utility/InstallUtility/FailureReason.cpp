#include "FailureReason.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"

namespace
{

// The account name of a uid, or "uid N" for one without an account.
std::string UserName(uid_t user)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(user);
}

// What a flag on the entry ("it") or its folder asks of the person who wants it gone.
std::string FlagWords(unsigned flags, const char* holder)
{
    if ((flags & ImmutableFlag) != 0)
        return std::string(holder) + " has the immutable flag, which chattr -i clears";
    return std::string(holder) + " has the append-only flag, which chattr -a clears";
}

std::string Explanation(int folderFd, const char* name, const Status& failure)
{
    if (failure.IsReadOnlyFileSystem())
        return "the file system it is on is mounted read-only";
    if (!failure.IsPermissionDenied())
        return std::string();
    if (const unsigned flags = ProtectionFlags(folderFd, name))
        return FlagWords(flags, "it");
    if (const unsigned flags = ProtectionFlags(folderFd, ""))
        return FlagWords(flags, "its folder");
    struct stat folder;
    struct stat entry;
    if (fstat(folderFd, &folder) != 0)
        return std::string();
    const uid_t user = geteuid();
    if (failure.IsAccessDenied())
        return "its folder, owned by " + UserName(folder.st_uid) + ", does not let " + UserName(user) +
               " change it";
    // In a sticky folder only the entry's owner, the folder's owner or root may remove it.
    if ((folder.st_mode & S_ISVTX) != 0 && fstatat(folderFd, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
        entry.st_uid != user)
        return "it belongs to " + UserName(entry.st_uid) + " in a sticky folder owned by " +
               UserName(folder.st_uid) + ", where only they or root may remove it";
    return std::string();
}

} // namespace

unsigned ProtectionFlags(int folderFd, const char* name)
{
    const int at = AT_SYMLINK_NOFOLLOW | (*name == '\0' ? AT_EMPTY_PATH : 0);
    struct statx node;
    if (statx(folderFd, name, at, STATX_TYPE, &node) != 0)
        return 0;
    return ProtectionFlags(folderFd, name, node);
}

unsigned ProtectionFlags(int folderFd, const char* name, const struct statx& node)
{
    const unsigned both = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
    // Reading the flags without opening: opening needs read rights the removal does not, and a
    // FIFO or device must not be opened.
    if ((node.stx_attributes_mask & both) == both)
        return ((node.stx_attributes & STATX_ATTR_IMMUTABLE) != 0 ? ImmutableFlag : 0) |
               ((node.stx_attributes & STATX_ATTR_APPEND) != 0 ? AppendOnlyFlag : 0);
    if (!S_ISREG(node.stx_mode) && !S_ISDIR(node.stx_mode))
        return 0;
    const FileDescriptor opened(
        *name == '\0' ? -1
                      : openat(folderFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (*name != '\0' && !opened.IsOpen())
        return 0;
    int fileFlags = 0;
    if (ioctl(opened.IsOpen() ? opened.Get() : folderFd, FS_IOC_GETFLAGS, &fileFlags) != 0)
        return 0;
    return ((fileFlags & FS_IMMUTABLE_FL) != 0 ? ImmutableFlag : 0) |
           ((fileFlags & FS_APPEND_FL) != 0 ? AppendOnlyFlag : 0);
}

TqString FailureReason(int folderFd, const char* name, const Status& failure)
{
    std::string reason = strerror(failure.Errno());
    const std::string explanation = Explanation(folderFd, name, failure);
    if (!explanation.empty())
        reason += ": " + explanation;
    return TqString(reason.data(), static_cast<unsigned long>(reason.size()));
}
