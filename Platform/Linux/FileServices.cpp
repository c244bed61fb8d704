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
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "PathText.h"
#include "ProtectedPath.h"
#include "Status.h"
#include "TreeRemoval.h"

namespace
{

// No one but the owner may write into a copy: root runs from it.
const mode_t kCopiedModeBits = 0755;

// The file's contents through a buffer on the heap: the uninstaller may run on a small stack.
Status CopyFileContents(const char* from, const char* to, mode_t mode)
{
    FileDescriptor input(open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!input.IsOpen())
        return Status::Failed(errno, TqString("could not open ") + from);
    FileDescriptor output(open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!output.IsOpen())
        return Status::Failed(errno, TqString("could not create ") + to);
    std::vector<char> buffer(65536);
    for (;;)
    {
        const ssize_t got = read(input.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Status::Failed(errno, TqString("could not read ") + from);
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;)
        {
            const ssize_t put =
                write(output.Get(), buffer.data() + written, static_cast<size_t>(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return Status::Failed(put < 0 ? errno : ENOSPC, TqString("could not write ") + to);
            written += put;
        }
    }
    if (fchmod(output.Get(), mode & kCopiedModeBits) != 0)
        return Status::Failed(errno, TqString("could not set the permissions of ") + to);
    return Status::Done();
}

Status CopyLink(const char* from, const char* to, off_t sizeHint)
{
    std::vector<char> target(static_cast<size_t>(sizeHint > 0 ? sizeHint : 255) + 1);
    for (;;)
    {
        ssize_t size = readlink(from, target.data(), target.size());
        if (size < 0)
            return Status::Failed(errno, TqString("could not read the link ") + from);
        if (static_cast<size_t>(size) < target.size())
        {
            target[static_cast<size_t>(size)] = '\0';
            break;
        }
        target.resize(target.size() * 2);
    }
    if (symlink(target.data(), to) != 0)
        return Status::Failed(errno, TqString("could not create the link ") + to);
    return Status::Done();
}

Status CopyDirectory(const TqString& from, const TqString& to, mode_t mode)
{
    if (mkdir(to.ConstData(), 0700) != 0)
        return Status::Failed(errno, TqString("could not create ") + to);
    DIR* directory = opendir(from.ConstData());
    if (directory == nullptr)
        return Status::Failed(errno, TqString("could not read ") + from);
    Status copied;
    while (struct dirent* entry = readdir(directory))
    {
        TqString name(entry->d_name);
        if (name == TqString(".") || name == TqString(".."))
            continue;
        copied = CopyTree(PathText::Join(from, name), PathText::Join(to, name));
        if (!copied.IsDone())
            break;
    }
    closedir(directory);
    if (!copied.IsDone())
        return copied;
    // The final permissions go on last so that a read-only folder can still be filled.
    if (chmod(to.ConstData(), mode & kCopiedModeBits) != 0)
        return Status::Failed(errno, TqString("could not set the permissions of ") + to);
    return Status::Done();
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
        error = changes.RemoveEmptyDirectory(parent, name).Errno();
    }
    else
        error = changes.RemoveName(parent, name).Errno();
    return error == 0 || error == ENOENT ? Status::Done() : Status::Failed(error, name);
}

// Whether path will do as the temporary folder for user: done with its real path in real, else
// why not.
Status UsableTemporaryFolder(const char* path, uid_t user, TqString& real)
{
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr)
        return Status::Failed(errno, path);
    struct stat status;
    if (stat(resolved, &status) != 0 || !S_ISDIR(status.st_mode))
        return Status::Failed(0, TqString(path) + " is not a folder");
    if (Status problem = ProtectedPath::Check(resolved, user); !problem.IsDone())
        return problem;
    if (access(resolved, W_OK | X_OK) != 0)
        return Status::Failed(errno, TqString(path) + " is not writable");
    // The copy is run from there.
    struct statvfs fileSystem;
    if (statvfs(resolved, &fileSystem) == 0 && (fileSystem.f_flag & ST_NOEXEC) != 0)
        return Status::Failed(0, TqString(path) + " does not allow programs to run (noexec)");
    real = resolved;
    return Status::Done();
}

} // namespace

Status ChooseTemporaryDirectory(const char* tmpdirValue, uid_t user, TqString& folder)
{
    folder = TqString();
    TqString skipped;
    const char* candidates[] = {tmpdirValue, "/tmp", "/var/tmp"};
    for (const char* candidate : candidates)
    {
        if (candidate == nullptr || candidate[0] == '\0')
            continue;
        TqString real;
        const Status usable = UsableTemporaryFolder(candidate, user, real);
        if (usable.IsDone())
        {
            folder = real;
            return Status::Done();
        }
        if (skipped.IsSet())
            skipped += "\n";
        skipped += usable.Text();
    }
    return Status::Failed(0, skipped);
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
    (void)std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "-%ld",
                        static_cast<long>(getpid()));
    return TqString(text);
}

Status CreatePrivateDirectory(const TqString& path)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no folder to create");
    if (mkdir(path.ConstData(), 0700) != 0)
        return Status::Failed(errno, TqString("could not create ") + path);
    // A restrictive umask may have taken the owner's own bits away.
    struct stat status;
    if (stat(path.ConstData(), &status) != 0 ||
        ((status.st_mode & 07777) != 0700 && chmod(path.ConstData(), 0700) != 0))
        return Status::Failed(errno, TqString("could not make private ") + path);
    return Status::Done();
}

Status CopyTree(const TqString& from, const TqString& to)
{
    struct stat status;
    if (from.IsEmpty() || to.IsEmpty())
        return Status::Failed(ENOENT, "nothing to copy");
    if (lstat(from.ConstData(), &status) != 0)
        return Status::Failed(errno, TqString("could not read ") + from);
    if (S_ISLNK(status.st_mode))
        return CopyLink(from.ConstData(), to.ConstData(), status.st_size);
    if (S_ISDIR(status.st_mode))
    {
        if (IsInside(to, from))
            return Status::Failed(EINVAL, TqString("could not copy a folder into itself: ") + from);
        return CopyDirectory(from, to, status.st_mode);
    }
    if (S_ISREG(status.st_mode))
        return CopyFileContents(from.ConstData(), to.ConstData(), status.st_mode);
    // Sockets, FIFOs and devices are no part of what runs: a stray one must not stop the uninstall.
    return Status::Done();
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
