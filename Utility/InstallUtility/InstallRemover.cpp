#include "InstallRemover.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "DryRunDiskChanges.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "StringLibrary.h"
#include "WholeRemoval.h"

namespace
{

const int openDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::unique_ptr<DiskChanges> makeChanges(bool dryRun)
{
    if (dryRun)
        return std::unique_ptr<DiskChanges>(new DryRunDiskChanges());
    return std::unique_ptr<DiskChanges>(new RealDiskChanges());
}

bool existsAt(int fd, const char* name)
{
    struct stat status;
    return fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool isAbsolute(const TqString& path)
{
    return path.IsSet() && path[0] == '/';
}

// What a refusal line names: the entry's name, or for an empty one the folder that lists it.
TqString refusedName(const TqString& folderPath, const TqString& name)
{
    return name.IsEmpty() ? PathText::Join(folderPath, name) : name;
}

// Something already gone when the change came (another removal took it) is done all the same.
int goneIsDone(int error)
{
    return error == ENOENT ? 0 : error;
}

// The text of the link name in folderFd: 0, else the errno value (ENAMETOOLONG when the text
// is longer than any path, so that it is never compared cut short).
int readLink(int folderFd, const char* name, TqString& text)
{
    char buffer[PATH_MAX + 1];
    const ssize_t size = readlinkat(folderFd, name, buffer, sizeof buffer);
    if (size < 0)
        return errno;
    if (static_cast<size_t>(size) == sizeof buffer)
        return ENAMETOOLONG;
    text = TqString(buffer, static_cast<unsigned long>(size));
    return 0;
}

// Opens name in parent as a directory, following no link, and identifies it: 0 or the errno value.
int openDirectory(int parentFd, const TqString& name, FileDescriptor& fd, NodeIdentity& identity)
{
    fd = FileDescriptor(openat(parentFd, name.ConstData(), openDirectoryFlags));
    return fd.IsOpen() && IdentifyNode(fd.Get(), "", identity) ? 0 : errno;
}

} // namespace

InstallRemover::InstallRemover(const TqString& targetPath, bool verbose, bool dryRun, FILE* out, FILE* errors)
    : targetPath(PathText::Normalized(targetPath)), changes(makeChanges(dryRun)),
      report(verbose, dryRun, out, errors), errors(errors), guard(targetPath, NodeIdentity(), NodeIdentity())
{
}

int InstallRemover::Run(const FileNode& root)
{
    Directory target;
    if (!openTarget(target))
        return 2;
    targetFd = target.fd.Get();
    handleChildren(target, root);
    targetFd = -1;
    report.Summary();
    return report.RunFailed() ? 1 : 0;
}

bool InstallRemover::openTarget(Directory& target)
{
    if (!isAbsolute(targetPath))
    {
        fprintf(errors, "target path is not absolute: %s\n", EscapeLineText(targetPath).ConstData());
        return false;
    }
    // The target path itself may pass through links (it is the configured place); nothing
    // below it is followed.
    target.fd =
        FileDescriptor(givenTargetFd >= 0 ? fcntl(givenTargetFd, F_DUPFD_CLOEXEC, 0)
                                          : open(targetPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    NodeIdentity rootFolder;
    if (!target.fd.IsOpen() || !IdentifyNode(target.fd.Get(), "", target.identity) ||
        !IdentifyNode(AT_FDCWD, "/", rootFolder))
    {
        fprintf(errors, "target path is not a directory: %s: %s\n", EscapeLineText(targetPath).ConstData(),
                strerror(errno));
        return false;
    }
    guard = RemovalGuard(targetPath, target.identity, rootFolder);
    target.path = targetPath;
    return true;
}

void InstallRemover::handleChildren(const Directory& directory, const FileNode& node)
{
    for (const auto& child : node.children)
    {
        // The node's own name is the one the removal uses.
        const FileNode& entry = child.second;
        if (const char* reason = RemovalGuard::NameRefusal(entry.name))
            refused(Failure{refusedName(directory.path, entry.name), reason});
        else
            handleEntry(directory, entry);
    }
}

bool InstallRemover::handleEntry(const Directory& parent, const FileNode& node)
{
    const TqString path = PathText::Join(parent.path, node.name);
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
        return existsAt(parent.fd.Get(), name) ? kept(path) : missing(path);
    int error = changes->RemoveName(parent.fd.Get(), name);
    // A directory shows itself by the error: a bundle, listed as one entry.
    if (error == EISDIR || error == EPERM)
    {
        struct stat status;
        if (fstatat(parent.fd.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            error = errno; // ENOENT too when another removal took it meanwhile
        else if (S_ISDIR(status.st_mode))
            return handleBundle(parent, node, path);
    }
    return settle(node, path, error);
}

bool InstallRemover::handleBundle(const Directory& parent, const FileNode& node, const TqString& path)
{
    Directory bundle;
    if (const int error = openDirectory(parent.fd.Get(), node.name, bundle.fd, bundle.identity))
        return settle(node, path, error);
    if (const char* reason = guard.WholeRemovalRefusal(path, bundle.identity, parent.identity))
        return refused(Failure{path, reason});
    if (const char* reason = guard.EntryRefusal(bundle.identity, parent.identity.mount))
        return failed(node, Failure{path, reason});
    const std::optional<Failure> inside =
        WholeRemoval::RemoveContents(bundle.fd.Get(), bundle.identity.mount, *changes, guard);
    if (inside)
        return failed(node, Failure{path, inside->path + ": " + inside->reason});
    // Already gone: another removal emptied it at the same time.
    return settle(node, path,
                  goneIsDone(changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData())));
}

bool InstallRemover::handleDirectory(const Directory& parent, const FileNode& node, const TqString& path)
{
    Directory directory;
    directory.path = path;
    if (const int error = openDirectory(parent.fd.Get(), node.name, directory.fd, directory.identity))
        return handleUnopenedDirectory(parent, node, path, error);
    // Like a bundle's folders, a listed directory on another mount is never entered.
    if (const char* reason = guard.EntryRefusal(directory.identity, parent.identity.mount))
        return failed(node, Failure{path, reason});
    handleChildren(directory, node);
    if (node.dontDelete || guard.KeepsEmptyDirectory(path, parent.identity))
        return kept(path);
    const int error = changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData());
    if (error == ENOTEMPTY || error == EEXIST)
        return kept(path);
    // Already gone: another removal took it once it was empty.
    return settle(node, path, goneIsDone(error));
}

bool InstallRemover::handleUnopenedDirectory(const Directory& parent, const FileNode& node,
                                             const TqString& path, int error)
{
    if (error == ENOENT)
    {
        missing(path);
        reportMissingBelow(node, path);
        return true;
    }
    // A link or a file in place of a listed directory: never entered, and left as it is.
    struct stat status;
    if (error == ELOOP ||
        (fstatat(parent.fd.Get(), node.name.ConstData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(status.st_mode)))
        return failed(node, Failure{path, "a symbolic link in place of a directory, not followed"});
    return failed(node, Failure{path, error == ENOTDIR ? "not a directory" : strerror(error)});
}

void InstallRemover::reportMissingBelow(const FileNode& node, const TqString& path)
{
    for (const auto& child : node.children)
    {
        const FileNode& entry = child.second;
        if (const char* reason = RemovalGuard::NameRefusal(entry.name))
        {
            refused(Failure{refusedName(path, entry.name), reason});
            continue;
        }
        const TqString entryPath = PathText::Join(path, entry.name);
        missing(entryPath);
        if (!entry.isDirectory && entry.shortCut.name.IsSet())
            handleShortCut(entry, entryPath, true);
        reportMissingBelow(entry, entryPath);
    }
}

void InstallRemover::handleShortCut(const FileNode& node, const TqString& installedPath, bool entryGone)
{
    const TqString& name = node.shortCut.name;
    const TqString& dir = node.shortCut.dir;
    TqString folderPath;
    if (const char* reason = RemovalGuard::NameRefusal(name))
    {
        refused(Failure{name, reason});
        return;
    }
    if (const char* reason = shortCutFolderPath(dir, folderPath))
    {
        refused(Failure{dir, reason});
        return;
    }
    const TqString path = PathText::Join(folderPath, name);
    const FileDescriptor folder = openShortCutFolder(dir, folderPath);
    if (folder.IsOpen())
        removeShortCutLink(node, folder.Get(), path, installedPath, entryGone);
    else
        settle(node, path, errno);
}

void InstallRemover::removeShortCutLink(const FileNode& node, int folderFd, const TqString& path,
                                        const TqString& installedPath, bool entryGone)
{
    const char* name = node.shortCut.name.ConstData();
    TqString linkText;
    const int error = readLink(folderFd, name, linkText);
    if (error == ENOENT)
        missing(path);
    // Not a link, or a link elsewhere, is not ours to remove; ours stays while its entry does.
    else if (error != 0 || !entryGone || !(PathText::Normalized(linkText) == installedPath))
        kept(path);
    else
        settle(node, path, goneIsDone(changes->RemoveName(folderFd, name)));
}

const char* InstallRemover::shortCutFolderPath(const TqString& dir, TqString& folderPath) const
{
    if (isAbsolute(dir))
    {
        folderPath = PathText::Normalized(dir);
        return nullptr;
    }
    folderPath = targetPath;
    for (const TqString& name : StringLibrary::Split(dir, TqString("/"), true))
    {
        if (const char* reason = RemovalGuard::NameRefusal(name))
            return reason;
        folderPath = PathText::Join(folderPath, name);
    }
    return nullptr;
}

FileDescriptor InstallRemover::openShortCutFolder(const TqString& dir, const TqString& folderPath) const
{
    // A place of the user's choosing outside the product, such as a desktop: taken as given.
    if (isAbsolute(dir))
        return FileDescriptor(open(folderPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Under the target path, one name at a time, following no link.
    FileDescriptor folder(openat(targetFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const TqString& name : StringLibrary::Split(dir, TqString("/"), true))
    {
        if (!folder.IsOpen())
            break;
        FileDescriptor next(openat(folder.Get(), name.ConstData(), openDirectoryFlags));
        const int error = errno;
        folder = std::move(next);
        errno = error;
    }
    return folder;
}

bool InstallRemover::removed(const TqString& path)
{
    report.Removed(path);
    return true;
}

bool InstallRemover::kept(const TqString& path)
{
    report.Kept(path);
    return false;
}

bool InstallRemover::missing(const TqString& path)
{
    report.Missing(path);
    return true;
}

bool InstallRemover::failed(const FileNode& node, const Failure& failure)
{
    report.Failed(failure, node.ignoreInstallErrors);
    return false;
}

bool InstallRemover::refused(const Failure& refusal)
{
    report.Refused(refusal);
    return false;
}

bool InstallRemover::settle(const FileNode& node, const TqString& path, int error)
{
    if (error == 0)
        return removed(path);
    if (error == ENOENT)
        return missing(path);
    return failed(node, Failure{path, strerror(error)});
}
