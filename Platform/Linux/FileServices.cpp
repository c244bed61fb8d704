#include "FileServices.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "PathText.h"
#include "TreeRemoval.h"
#include "TrustedFiles.h"

namespace
{

// No one but the owner may write into a copy: root runs from it.
const mode_t kCopiedModeBits = 0755;

bool CopyFileContents(const char* from, const char* to, mode_t mode)
{
    int input = open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (input < 0)
        return false;
    int output = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (output < 0)
    {
        close(input);
        return false;
    }
    bool copied = true;
    char buffer[65536];
    for (;;)
    {
        ssize_t got = read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            copied = got == 0;
            break;
        }
        for (ssize_t written = 0; written < got && copied;)
        {
            ssize_t put = write(output, buffer + written, static_cast<size_t>(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            copied = put > 0;
            written += put > 0 ? put : 0;
        }
        if (!copied)
            break;
    }
    copied = fchmod(output, mode & kCopiedModeBits) == 0 && copied;
    copied = close(output) == 0 && copied;
    close(input);
    return copied;
}

bool CopyLink(const char* from, const char* to, off_t sizeHint)
{
    std::vector<char> target(static_cast<size_t>(sizeHint > 0 ? sizeHint : 255) + 1);
    for (;;)
    {
        ssize_t size = readlink(from, target.data(), target.size());
        if (size < 0)
            return false;
        if (static_cast<size_t>(size) < target.size())
        {
            target[static_cast<size_t>(size)] = '\0';
            break;
        }
        target.resize(target.size() * 2);
    }
    return symlink(target.data(), to) == 0;
}

bool CopyDirectory(const TqString& from, const TqString& to, mode_t mode)
{
    if (mkdir(to.ConstData(), 0700) != 0)
        return false;
    DIR* directory = opendir(from.ConstData());
    if (directory == nullptr)
        return false;
    bool copied = true;
    while (struct dirent* entry = readdir(directory))
    {
        TqString name(entry->d_name);
        if (name == TqString(".") || name == TqString(".."))
            continue;
        if (!CopyTree(PathText::Join(from, name), PathText::Join(to, name)))
        {
            copied = false;
            break;
        }
    }
    closedir(directory);
    // The final permissions go on last so that a read-only folder can still be filled.
    return chmod(to.ConstData(), mode & kCopiedModeBits) == 0 && copied;
}

// True when to would lie inside from (or be from itself): copying a folder into itself never ends.
bool IsInside(const TqString& to, const TqString& from)
{
    char source[PATH_MAX];
    char destinationParent[PATH_MAX];
    TqString parent = PathText::Parent(to);
    if (parent.IsEmpty())
        parent = ".";
    if (realpath(from.ConstData(), source) == nullptr ||
        realpath(parent.ConstData(), destinationParent) == nullptr)
        return false;
    TqString sourcePath(source);
    TqString parentPath(destinationParent);
    return parentPath == sourcePath ||
           (parentPath.Size() > sourcePath.Size() && parentPath.Substr(0, sourcePath.Size()) == sourcePath &&
            (sourcePath == TqString("/") || parentPath[sourcePath.Size()] == '/'));
}

// Removes name in the folder parent (or the path name itself with AT_FDCWD) through changes: a
// folder is emptied by the one tree walk, then removed.
Status RemoveEntryAt(int parent, const char* name, DiskChanges& changes)
{
    struct stat status;
    if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Status::Done() : Status::Failed(errno, name);
    int error = 0;
    if (S_ISDIR(status.st_mode))
    {
        const FileDescriptor folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.IsOpen())
            return errno == ENOENT ? Status::Done() : Status::Failed(errno, name);
        const Status inside = TreeRemoval::RemoveContents(folder.Get(), changes);
        if (!inside.IsDone())
            return Status::Failed(inside.Errno(), TqString(name) + "/" + inside.Message());
        error = changes.RemoveEmptyDirectory(parent, name);
    }
    else
        error = changes.RemoveName(parent, name);
    return error == 0 || error == ENOENT ? Status::Done() : Status::Failed(error, name);
}

TqString SafeTemporaryFolder(const char* path, uid_t user)
{
    TqString real = path != nullptr && path[0] != '\0' ? RealPathIfSafe(path, user) : TqString();
    struct stat status;
    return real.IsSet() && stat(real.ConstData(), &status) == 0 && S_ISDIR(status.st_mode) ? real
                                                                                           : TqString();
}

} // namespace

TqString UserTemporaryDirectory(const char* tmpdirValue, uid_t user)
{
    TqString folder = SafeTemporaryFolder(tmpdirValue, user);
    return folder.IsSet() ? folder : SafeTemporaryFolder("/tmp", user);
}

TqString UniqueRunString()
{
    unsigned char bytes[16];
    size_t filled = 0;
    while (filled < sizeof bytes)
    {
        ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return TqString();
        filled += static_cast<size_t>(got);
    }
    char text[2 * sizeof bytes + 24];
    int length = 0;
    for (unsigned char byte : bytes)
        length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%02x", byte);
    std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "-%ld",
                  static_cast<long>(getpid()));
    return TqString(text);
}

bool CreatePrivateDirectory(const TqString& path)
{
    if (path.IsEmpty() || mkdir(path.ConstData(), 0700) != 0)
        return false;
    // A restrictive umask may have taken the owner's own bits away.
    struct stat status;
    if (stat(path.ConstData(), &status) != 0)
        return false;
    return (status.st_mode & 07777) == 0700 || chmod(path.ConstData(), 0700) == 0;
}

bool CopyTree(const TqString& from, const TqString& to)
{
    struct stat status;
    if (from.IsEmpty() || to.IsEmpty() || lstat(from.ConstData(), &status) != 0)
        return false;
    if (S_ISLNK(status.st_mode))
        return CopyLink(from.ConstData(), to.ConstData(), status.st_size);
    if (S_ISDIR(status.st_mode))
        return !IsInside(to, from) && CopyDirectory(from, to, status.st_mode);
    if (S_ISREG(status.st_mode))
        return CopyFileContents(from.ConstData(), to.ConstData(), status.st_mode);
    return false;
}

void OwnerWritableChanges::PrepareToEmpty(int folderFd)
{
    struct stat status;
    // Should it fail, removing what is inside says why.
    if (fstat(folderFd, &status) == 0 && (status.st_mode & 0700) != 0700)
        (void)fchmod(folderFd, (status.st_mode & 07777) | 0700);
}

bool RemoveTree(const TqString& path)
{
    OwnerWritableChanges changes;
    return RemoveTree(path, changes).IsDone();
}

Status RemoveTree(const TqString& path, DiskChanges& changes)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no path to remove");
    return RemoveEntryAt(AT_FDCWD, path.ConstData(), changes);
}
