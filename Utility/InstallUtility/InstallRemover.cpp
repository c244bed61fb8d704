#include "InstallRemover.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "LineEscaping.h"
#include "StringLibrary.h"
#include "WholeRemoval.h"

namespace
{

const int openDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool existsAt(int fd, const char* name)
{
    struct stat status;
    return fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// What a refusal line names: the entry's name, or for an empty one the folder that lists it.
TqString refusedName(const TqString& folderPath, const TqString& name)
{
    return name.IsEmpty() ? folderPath + "/" : name;
}

} // namespace

InstallRemover::InstallRemover(const TqString& targetPath, bool verbose, bool dryRun, FILE* out, FILE* errors)
    : targetPath(RemovalGuard::NormalizedPath(targetPath)), verbose(verbose), dryRun(dryRun), out(out),
      errors(errors), guard(targetPath, NodeIdentity(), NodeIdentity())
{
}

int InstallRemover::Run(const FileNode& root)
{
    if (targetPath.IsEmpty() || targetPath[0] != '/')
    {
        fprintf(errors, "target path is not absolute: %s\n", EscapeLineText(targetPath).ConstData());
        return 2;
    }
    // The target path itself may pass through links (it is the configured place); nothing
    // below it is followed.
    targetFd = givenTargetFd >= 0 ? fcntl(givenTargetFd, F_DUPFD_CLOEXEC, 0)
                                  : open(targetPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Directory target;
    NodeIdentity rootFolder;
    if (targetFd < 0 || !IdentifyNode(targetFd, "", target.identity) ||
        !IdentifyNode(AT_FDCWD, "/", rootFolder))
    {
        fprintf(errors, "target path is not a directory: %s: %s\n", EscapeLineText(targetPath).ConstData(),
                strerror(errno));
        if (targetFd >= 0)
            close(targetFd);
        return 2;
    }
    guard = RemovalGuard(targetPath, target.identity, rootFolder);
    target.fd = targetFd;
    // Entry paths are the target path, "/", the entry's path; "/" as target must not double it.
    target.path = targetPath == TqString("/") ? TqString() : targetPath;
    std::set<TqString> gone;
    handleChildren(target, root, gone);
    close(targetFd);
    targetFd = -1;

    if (verbose)
        fprintf(out, "summary: %lu %s, %lu kept, %lu missing, %lu failed\n", counts.removed,
                dryRun ? "would be removed" : "removed", counts.kept, counts.missing, counts.failed);
    fflush(out);
    return runFailed ? 1 : 0;
}

bool InstallRemover::handleChildren(const Directory& directory, const FileNode& node,
                                    std::set<TqString>& gone)
{
    bool allGone = true;
    for (const auto& child : node.children)
    {
        // The node's own name is the one the removal uses.
        if (const char* reason = RemovalGuard::NameRefusal(child.second.name))
        {
            reportRefused(refusedName(directory.path, child.second.name), reason);
            allGone = false;
            continue;
        }
        if (handleEntry(directory, child.second))
        {
            if (dryRun)
                gone.insert(child.first);
        }
        else
            allGone = false;
    }
    return allGone;
}

bool InstallRemover::handleEntry(const Directory& parent, const FileNode& node)
{
    const TqString path = parent.path + "/" + node.name;
    if (node.isDirectory)
        return handleDirectory(parent, node, path);
    const bool gone = handleFile(parent, node, path);
    if (node.shortCut.name.IsSet())
        handleShortCut(node, path, gone);
    return gone;
}

bool InstallRemover::handleFile(const Directory& parent, const FileNode& node, const TqString& path)
{
    const char* name = node.name.ConstData();
    if (node.dontDelete)
    {
        if (!existsAt(parent.fd, name))
        {
            reportMissing(path);
            return true;
        }
        reportKept(path);
        return false;
    }
    // One call for the common case; a directory shows itself by the error.
    if (!dryRun && unlinkat(parent.fd, name, 0) == 0)
    {
        reportRemoved(path);
        return true;
    }
    int error = dryRun ? 0 : errno;
    struct stat status;
    if (dryRun || error == EISDIR || error == EPERM)
    {
        if (fstatat(parent.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            error = errno; // ENOENT too when another removal took it meanwhile
        else if (S_ISDIR(status.st_mode))
            return handleBundle(parent, node, path);
        else if (dryRun)
        {
            reportRemoved(path);
            return true;
        }
    }
    if (error == ENOENT)
    {
        reportMissing(path);
        return true;
    }
    reportFailed(node, path, strerror(error));
    return false;
}

bool InstallRemover::handleBundle(const Directory& parent, const FileNode& node, const TqString& path)
{
    const char* name = node.name.ConstData();
    const int fd = openat(parent.fd, name, openDirectoryFlags);
    NodeIdentity identity;
    if (fd < 0 || !IdentifyNode(fd, "", identity))
    {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        if (error == ENOENT)
        {
            reportMissing(path);
            return true;
        }
        reportFailed(node, path, strerror(error));
        return false;
    }
    if (const char* reason = guard.WholeRemovalRefusal(path, identity, parent.identity))
    {
        close(fd);
        reportRefused(path, reason);
        return false;
    }
    if (const char* reason = guard.EntryRefusal(identity, parent.identity.mount))
    {
        close(fd);
        reportFailed(node, path, reason);
        return false;
    }
    const TqString failure = WholeRemoval::RemoveContents(fd, dryRun, guard);
    close(fd);
    if (failure.IsSet())
    {
        reportFailed(node, path, failure.ConstData());
        return false;
    }
    // Already gone: another removal emptied it at the same time.
    if (!dryRun && unlinkat(parent.fd, name, AT_REMOVEDIR) != 0 && errno != ENOENT)
    {
        reportFailed(node, path, strerror(errno));
        return false;
    }
    reportRemoved(path);
    return true;
}

bool InstallRemover::handleDirectory(const Directory& parent, const FileNode& node, const TqString& path)
{
    Directory directory;
    directory.path = path;
    directory.fd = openat(parent.fd, node.name.ConstData(), openDirectoryFlags);
    if (directory.fd < 0)
    {
        const int error = errno;
        if (error == ENOENT)
        {
            reportMissing(path);
            reportMissingBelow(node, path);
            return true;
        }
        // A link or a file in place of a listed directory: never entered, and left as it is.
        struct stat status;
        if (error == ELOOP || (fstatat(parent.fd, node.name.ConstData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISLNK(status.st_mode)))
            reportFailed(node, path, "a symbolic link in place of a directory, not followed");
        else if (error == ENOTDIR)
            reportFailed(node, path, "not a directory");
        else
            reportFailed(node, path, strerror(error));
        return false;
    }
    if (!IdentifyNode(directory.fd, "", directory.identity))
    {
        reportFailed(node, path, strerror(errno));
        close(directory.fd);
        return false;
    }

    std::set<TqString> gone;
    const bool allGone = handleChildren(directory, node, gone);
    bool removed = false;
    if (node.dontDelete || guard.KeepsEmptyDirectory(path, parent.identity))
        reportKept(path);
    else if (dryRun)
    {
        removed = allGone && wouldBeEmpty(directory.fd, gone);
        if (removed)
            reportRemoved(path);
        else
            reportKept(path);
    }
    // Already gone: another removal took it once it was empty.
    else if (unlinkat(parent.fd, node.name.ConstData(), AT_REMOVEDIR) == 0 || errno == ENOENT)
    {
        removed = true;
        reportRemoved(path);
    }
    else if (errno == ENOTEMPTY || errno == EEXIST)
        reportKept(path);
    else
        reportFailed(node, path, strerror(errno));
    close(directory.fd);
    return removed;
}

void InstallRemover::reportMissingBelow(const FileNode& node, const TqString& path)
{
    for (const auto& child : node.children)
    {
        if (const char* reason = RemovalGuard::NameRefusal(child.second.name))
        {
            reportRefused(refusedName(path, child.second.name), reason);
            continue;
        }
        const TqString childPath = path + "/" + child.second.name;
        reportMissing(childPath);
        if (!child.second.isDirectory && child.second.shortCut.name.IsSet())
            handleShortCut(child.second, childPath, true);
        reportMissingBelow(child.second, childPath);
    }
}

bool InstallRemover::wouldBeEmpty(int fd, const std::set<TqString>& gone)
{
    const int listFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr)
    {
        if (listFd >= 0)
            close(listFd);
        return false;
    }
    bool empty = true;
    while (const dirent* entry = readdir(listing))
    {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0 &&
            gone.count(TqString(entry->d_name)) == 0)
        {
            empty = false;
            break;
        }
    }
    closedir(listing);
    return empty;
}

int InstallRemover::openShortCutDirectory(const TqString& dir, TqString& dirPath, const char*& reason)
{
    reason = nullptr;
    if (dir.IsSet() && dir[0] == '/')
    {
        // A place of the user's choosing outside the product, such as a desktop: taken as given.
        dirPath = RemovalGuard::NormalizedPath(dir);
        return open(dirPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    // Relative: under the target path, one name at a time, following no link.
    const Vector<TqString> names = StringLibrary::Split(dir, TqString("/"), true);
    dirPath = targetPath == TqString("/") ? TqString() : targetPath;
    for (const TqString& name : names)
    {
        if ((reason = RemovalGuard::NameRefusal(name)) != nullptr)
            return -1;
        dirPath = dirPath + "/" + name;
    }
    if (dirPath.IsEmpty())
        dirPath = TqString("/");
    int fd = openat(targetFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (unsigned long i = 0; i < names.size() && fd >= 0; ++i)
    {
        const int next = openat(fd, names[i].ConstData(), openDirectoryFlags);
        const int error = errno;
        close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

void InstallRemover::handleShortCut(const FileNode& node, const TqString& installedPath, bool entryGone)
{
    const TqString& name = node.shortCut.name;
    if (const char* reason = RemovalGuard::NameRefusal(name))
    {
        reportRefused(name, reason);
        return;
    }
    TqString dirPath;
    const char* refusal = nullptr;
    const int fd = openShortCutDirectory(node.shortCut.dir, dirPath, refusal);
    if (refusal != nullptr)
    {
        reportRefused(node.shortCut.dir, refusal);
        return;
    }
    const TqString path = (dirPath == TqString("/") ? TqString() : dirPath) + "/" + name;
    if (fd < 0)
    {
        if (errno == ENOENT)
            reportMissing(path);
        else
            reportFailed(node, path, strerror(errno));
        return;
    }
    char target[PATH_MAX + 1];
    const ssize_t size = readlinkat(fd, name.ConstData(), target, sizeof target);
    const int error = errno;
    if (size < 0)
    {
        if (error == ENOENT)
            reportMissing(path);
        else
            reportKept(path); // not a link: not ours to remove
    }
    else if (!entryGone || static_cast<size_t>(size) == sizeof target ||
             !(RemovalGuard::NormalizedPath(TqString(target, static_cast<unsigned long>(size))) ==
               installedPath))
        reportKept(path);
    else if (dryRun)
        reportRemoved(path);
    else if (unlinkat(fd, name.ConstData(), 0) == 0 || errno == ENOENT)
        reportRemoved(path);
    else
        reportFailed(node, path, strerror(errno));
    close(fd);
}

void InstallRemover::reportRemoved(const TqString& path)
{
    ++counts.removed;
    if (verbose)
        fprintf(out, "%s %s\n", dryRun ? "would remove" : "removed", EscapeLineText(path).ConstData());
}

void InstallRemover::reportKept(const TqString& path)
{
    ++counts.kept;
    if (verbose)
        fprintf(out, "kept %s\n", EscapeLineText(path).ConstData());
}

void InstallRemover::reportMissing(const TqString& path)
{
    ++counts.missing;
    if (verbose)
        fprintf(out, "missing %s\n", EscapeLineText(path).ConstData());
}

void InstallRemover::reportFailed(const FileNode& node, const TqString& path, const char* reason)
{
    ++counts.failed;
    if (!node.ignoreInstallErrors)
        runFailed = true;
    // A reason may carry a name from disk (the first thing a bundle could not lose).
    fprintf(verbose ? out : errors, "failed %s: %s%s\n", EscapeLineText(path).ConstData(),
            EscapeLineText(TqString(reason)).ConstData(), node.ignoreInstallErrors ? " (ignored)" : "");
}

void InstallRemover::reportRefused(const TqString& name, const char* reason)
{
    ++counts.failed;
    runFailed = true;
    fprintf(verbose ? out : errors, "refused %s: %s\n", EscapeLineText(name).ConstData(),
            EscapeLineText(TqString(reason)).ConstData());
}
