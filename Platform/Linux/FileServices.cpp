#include "FileServices.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "ProtectedPath.h"
#include "Status.h"
#include "TreeRemoval.h"

// A folder is emptied by the one tree walk, then removed.
Status RemoveTreeAt(int parent, const char* name, DiskChanges& changes)
{
    struct stat status;
    if (fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::FromErrno(name).DoneIfGone();
    if (!S_ISDIR(status.st_mode))
        return changes.RemoveName(parent, name).Because(name).DoneIfGone();
    const FileDescriptor folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.IsOpen())
        return Status::FromErrno(name).DoneIfGone();
    const Status inside = TreeRemoval::RemoveContents(folder.Get(), changes);
    if (!inside.IsDone())
        return inside.Because(TqString(name) + "/" + inside.Message());
    return changes.RemoveEmptyDirectory(parent, name).Because(name).DoneIfGone();
}

namespace
{

// The real path of path when it will do as the temporary folder for user, else why not.
Result<TqString> UsableTemporaryFolder(const char* path, uid_t user)
{
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr)
        return Status::FromErrno(path);
    struct stat status;
    if (stat(resolved, &status) != 0 || !S_ISDIR(status.st_mode))
        return Status::Failed(0, TqString(path) + " is not a folder");
    if (Status problem = ProtectedPath::Check(resolved, user); !problem.IsDone())
        return problem;
    if (access(resolved, W_OK | X_OK) != 0)
        return Status::FromErrno(TqString(path) + " is not writable");
    // The copy is run from there.
    struct statvfs fileSystem;
    if (statvfs(resolved, &fileSystem) == 0 && (fileSystem.f_flag & ST_NOEXEC) != 0)
        return Status::Failed(0, TqString(path) + " does not allow programs to run (noexec)");
    return TqString(resolved);
}

} // namespace

Result<TqString> ChooseTemporaryDirectory(const char* tmpdirValue, uid_t user)
{
    TqString skipped;
    const char* candidates[] = {tmpdirValue, "/tmp", "/var/tmp"};
    for (const char* candidate : candidates)
    {
        if (candidate == nullptr || candidate[0] == '\0')
            continue;
        Result<TqString> usable = UsableTemporaryFolder(candidate, user);
        if (usable.IsDone())
            return usable;
        if (skipped.IsSet())
            skipped += "\n";
        skipped += usable.GetStatus().Text();
    }
    return Status::Failed(0, skipped);
}

TqString UniqueRunString()
{
    unsigned char bytes[kRunDigits / 2];
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
    (void)std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "%c%ld", kRunSeparator,
                        static_cast<long>(getpid()));
    return TqString(text);
}

Status CreatePrivateDirectory(const TqString& path)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no folder to create");
    if (mkdir(path.ConstData(), 0700) != 0)
        return Status::FromErrno(TqString("could not create ") + path);
    // A restrictive umask may have taken the owner's own bits away.
    struct stat status;
    if (stat(path.ConstData(), &status) != 0 ||
        ((status.st_mode & 07777) != 0700 && chmod(path.ConstData(), 0700) != 0))
        return Status::FromErrno(TqString("could not make private ") + path);
    return Status::Done();
}

void OwnerWritableChanges::PrepareToEmpty(int folderFd)
{
    struct stat status;
    // Should it fail, removing what is inside says why.
    if (fstat(folderFd, &status) == 0 && (status.st_mode & 0700) != 0700)
        (void)fchmod(folderFd, (status.st_mode & 07777) | 0700);
}

Status RemoveTree(const TqString& path)
{
    if (path.IsEmpty())
        return Status::Failed(ENOENT, "no path to remove");
    OwnerWritableChanges changes;
    return RemoveTreeAt(AT_FDCWD, path.ConstData(), changes);
}
