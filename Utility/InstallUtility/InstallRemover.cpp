#include "InstallRemover.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>

#include "BundleProgress.h"
#include "DryRunDiskChanges.h"
#include "FailureReason.h"
#include "FolderListing.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "RemovalLine.h"
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

InstallRemover::InstallRemover(const TqString& givenTarget, bool verbose, bool dryRun, FILE* out,
                               FILE* errorOutput)
    : targetPath(PathText::Normalized(givenTarget)), changes(makeChanges(dryRun)),
      report(verbose, dryRun, out, errorOutput), errors(errorOutput),
      guard(givenTarget, NodeIdentity(), NodeIdentity())
{
}

void InstallRemover::SetDefinition(int fileFd, int folderFd)
{
    definitionHolders.clear();
    // By the descriptors the definition was read through: the file, then the folders it really
    // lies in, up to "/", whose ".." is itself.
    NodeIdentity identity;
    if (!IdentifyNode(fileFd, "", identity))
        return;
    definitionHolders.push_back(identity);
    FileDescriptor folder(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    while (folder.IsOpen() && IdentifyNode(folder.Get(), "", identity) &&
           !(identity == definitionHolders.back()))
    {
        definitionHolders.push_back(identity);
        folder = FileDescriptor(openat(folder.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
}

bool InstallRemover::holdsDefinition(const NodeIdentity& identity) const
{
    for (const NodeIdentity& holder : definitionHolders)
        if (holder == identity)
            return true;
    return false;
}

int InstallRemover::Run(const FileNode& root)
{
    // The caller opened the target path and said why when it could not.
    Directory target;
    target.fd = FileDescriptor(givenTargetFd >= 0 ? fcntl(givenTargetFd, F_DUPFD_CLOEXEC, 0) : -1);
    NodeIdentity rootFolder;
    if (!target.fd.IsOpen() || !IdentifyNode(target.fd.Get(), "", target.identity) ||
        !IdentifyNode(AT_FDCWD, "/", rootFolder))
    {
        (void)fprintf(errors, "cannot read the target folder %s: %s\n",
                      EscapeLineText(targetPath).ConstData(), strerror(errno));
        return 2;
    }
    guard = RemovalGuard(targetPath, target.identity, rootFolder);
    target.path = targetPath;
    targetFd = target.fd.Get();
    handleTree(std::move(target), root);
    targetFd = -1;
    report.Summary();
    return report.RunFailed() ? 1 : cancelled ? 4 : 0;
}

void InstallRemover::handleTree(Directory target, const FileNode& root)
{
    std::vector<Level> levels(1);
    levels[0].directory = std::move(target);
    levels[0].node = &root;
    orderEntries(levels[0]);
    while (!levels.empty())
    {
        Level& level = levels.back();
        if (level.next == level.entries.size())
        {
            const Level done = std::move(level);
            levels.pop_back();
            if (!levels.empty())
                leaveDirectory(levels.back().directory, done);
            continue;
        }
        const FileNode& entry = *level.entries[level.next++];
        if (const Status refusal = RemovalGuard::NameRefusal(entry.name); !refusal.IsDone())
        {
            refused(refusedName(level.directory.path, entry.name), refusal.Message());
            continue;
        }
        const TqString path = PathText::Join(level.directory.path, entry.name);
        cancelled = cancelled || (stopAsked != nullptr && stopAsked());
        if (cancelled)
        {
            reportUnreached(level, entry, path);
            continue;
        }
        if (!entry.isDirectory)
        {
            const bool gone = handleFile(level.directory, entry, path, &entry == level.holdsDefinition);
            if (entry.shortCut.name.IsSet())
                handleShortCut(entry, path, gone, &level.directory.identity);
            continue;
        }
        Level inner;
        if (enterDirectory(level.directory, entry, path, inner))
            levels.push_back(std::move(inner));
    }
}

bool InstallRemover::enterDirectory(const Directory& parent, const FileNode& node, const TqString& path,
                                    Level& level)
{
    if (const int error =
            openDirectory(parent.fd.Get(), node.name, level.directory.fd, level.directory.identity))
    {
        handleUnopenedDirectory(parent, node, path, error);
        return false;
    }
    // Like a bundle's folders, a listed directory on another mount is never entered.
    if (const Status refusal = guard.EntryRefusal(level.directory.identity, parent.identity.mount);
        !refusal.IsDone())
    {
        failed(node, path, refusal.Message());
        return false;
    }
    level.directory.path = path;
    level.node = &node;
    orderEntries(level);
    return true;
}

void InstallRemover::orderEntries(Level& level) const
{
    for (const auto& child : level.node->children)
        level.entries.push_back(&child.second); // the node's own name is the one the removal uses
    if (!holdsDefinition(level.directory.identity))
        return;
    for (auto entry = level.entries.begin(); entry != level.entries.end(); ++entry)
    {
        NodeIdentity identity;
        if (IdentifyNode(level.directory.fd.Get(), (*entry)->name.ConstData(), identity) &&
            holdsDefinition(identity))
        {
            level.holdsDefinition = *entry;
            level.entries.erase(entry);
            level.entries.push_back(level.holdsDefinition);
            return;
        }
    }
}

void InstallRemover::leaveDirectory(const Directory& parent, const Level& level)
{
    const FileNode& node = *level.node;
    const TqString& path = level.directory.path;
    if (node.dontDelete)
        return (void)kept(path, kMarkedToKeepReason);
    if (cancelled)
        return (void)kept(path, kCancelledReason);
    if (guard.KeepsEmptyDirectory(path, parent.identity))
        return (void)kept(path, "a folder directly under /, part of the system");
    const int error = changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData()).Errno();
    if (error == ENOTEMPTY || error == EEXIST)
    {
        const unsigned long unlisted = unlistedEntries(level);
        if (unlisted == 0)
            return (void)kept(path, "holds listed entries that stay");
        const std::string why = "holds " + std::to_string(unlisted) +
                                (unlisted == 1 ? " entry" : " entries") + " the product did not install";
        return (void)kept(path, TqString(why.data(), why.size()));
    }
    // Already gone: another removal took it once it was empty.
    settle(node, path, goneIsDone(error), parent.fd.Get(), node.name.ConstData());
}

unsigned long InstallRemover::unlistedEntries(const Level& level) const
{
    std::set<std::string> listed;
    for (const auto& child : level.node->children)
        listed.insert(child.second.name.ConstData());
    unsigned long count = 0;
    FolderListing listing(level.directory.fd.Get());
    while (const dirent* entry = listing.Next())
        count += listed.count(entry->d_name) == 0 ? 1 : 0;
    return count;
}

bool InstallRemover::handleFile(const Directory& parent, const FileNode& node, const TqString& path,
                                bool holdsDefinition)
{
    const char* name = node.name.ConstData();
    if (node.dontDelete)
        return existsAt(parent.fd.Get(), name) ? kept(path, kMarkedToKeepReason) : missing(path);
    // Removing the definition now would leave nothing to run the uninstall again with.
    if (holdsDefinition && report.RunFailed())
        return kept(path, "kept so that the uninstall can be run again");
    int error = changes->RemoveName(parent.fd.Get(), name).Errno();
    // A directory shows itself by the error: a bundle, listed as one entry.
    if (error == EISDIR || error == EPERM)
    {
        struct stat status;
        if (fstatat(parent.fd.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            error = errno; // ENOENT too when another removal took it meanwhile
        else if (S_ISDIR(status.st_mode))
            return handleBundle(parent, node, path);
    }
    return settle(node, path, error, parent.fd.Get(), name);
}

bool InstallRemover::handleBundle(const Directory& parent, const FileNode& node, const TqString& path)
{
    Directory bundle;
    if (const int error = openDirectory(parent.fd.Get(), node.name, bundle.fd, bundle.identity))
        return settle(node, path, error);
    if (const Status refusal = guard.WholeRemovalRefusal(path, bundle.identity, parent.identity);
        !refusal.IsDone())
        return refused(path, refusal.Message());
    if (const Status refusal = guard.EntryRefusal(bundle.identity, parent.identity.mount); !refusal.IsDone())
        return failed(node, path, refusal.Message());
    // Emptying a bundle may take a while: what was said before it is shown meanwhile.
    report.FlushHeld();
    BundleProgress counted(*changes, progressInterval,
                           [this, &path](unsigned long removedInside) { report.Removing(path, removedInside); });
    const Status inside = WholeRemoval::RemoveContents(bundle.fd.Get(), counted, guard);
    if (!inside.IsDone())
        return failed(node, path, inside.Text());
    // Already gone: another removal emptied it at the same time.
    return settle(node, path,
                  goneIsDone(changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData()).Errno()),
                  parent.fd.Get(), node.name.ConstData());
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
        return failed(node, path, "a symbolic link in place of a directory, not followed");
    return failed(node, path, error == ENOTDIR ? "not a directory" : strerror(error));
}

void InstallRemover::reportMissingBelow(const FileNode& node, const TqString& path)
{
    // In the order of a walk down the tree, on a stack of its own.
    std::vector<std::pair<const FileNode*, TqString>> pending;
    const auto pushChildren = [&pending](const FileNode& parent, const TqString& parentPath)
    {
        for (auto child = parent.children.rbegin(); child != parent.children.rend(); ++child)
            pending.emplace_back(&child->second, parentPath);
    };
    pushChildren(node, path);
    while (!pending.empty())
    {
        const FileNode& entry = *pending.back().first;
        const TqString folderPath = pending.back().second;
        pending.pop_back();
        if (const Status refusal = RemovalGuard::NameRefusal(entry.name); !refusal.IsDone())
        {
            refused(refusedName(folderPath, entry.name), refusal.Message());
            continue;
        }
        const TqString entryPath = PathText::Join(folderPath, entry.name);
        missing(entryPath);
        if (!entry.isDirectory && entry.shortCut.name.IsSet())
            handleShortCut(entry, entryPath, true, nullptr);
        pushChildren(entry, entryPath);
    }
}

void InstallRemover::reportUnreached(const Level& level, const FileNode& entry, const TqString& path)
{
    // Each entry is looked up by its path relative to level's folder: this only reports.
    struct Unreached
    {
        const FileNode* node;
        std::string relative;
        TqString path;
    };
    std::vector<Unreached> pending{{&entry, entry.name.ConstData(), path}};
    while (!pending.empty())
    {
        const Unreached unreached = std::move(pending.back());
        pending.pop_back();
        const FileNode& node = *unreached.node;
        if (!existsAt(level.directory.fd.Get(), unreached.relative.c_str()))
            missing(unreached.path);
        else if (&node == level.holdsDefinition)
            kept(unreached.path, "kept so that the uninstall can be run again");
        else
            kept(unreached.path, kCancelledReason);
        // A shortcut stays while its entry does.
        if (!node.isDirectory && node.shortCut.name.IsSet())
            handleShortCut(node, unreached.path, false,
                           &node == &entry ? &level.directory.identity : nullptr);
        for (auto child = node.children.rbegin(); child != node.children.rend(); ++child)
        {
            const FileNode& listed = child->second;
            if (RemovalGuard::NameRefusal(listed.name).IsDone())
                pending.push_back({&listed, unreached.relative + "/" + listed.name.ConstData(),
                                   PathText::Join(unreached.path, listed.name)});
        }
    }
}

void InstallRemover::handleShortCut(const FileNode& node, const TqString& installedPath, bool entryGone,
                                    const NodeIdentity* installedFolder)
{
    const TqString& name = node.shortCut.name;
    const TqString& dir = node.shortCut.dir;
    TqString folderPath;
    if (const Status refusal = RemovalGuard::NameRefusal(name); !refusal.IsDone())
    {
        refused(name, refusal.Message());
        return;
    }
    if (const Status refusal = shortCutFolderPath(dir, folderPath); !refusal.IsDone())
    {
        refused(dir, refusal.Message());
        return;
    }
    const TqString path = PathText::Join(folderPath, name);
    const FileDescriptor folder = openShortCutFolder(dir, folderPath);
    if (folder.IsOpen())
        removeShortCutLink(node, ShortCutLink{folder.Get(), folderPath, path}, installedPath, entryGone,
                           installedFolder);
    else
        settle(node, path, errno);
}

void InstallRemover::removeShortCutLink(const FileNode& node, const ShortCutLink& link,
                                        const TqString& installedPath, bool entryGone,
                                        const NodeIdentity* installedFolder)
{
    const char* name = node.shortCut.name.ConstData();
    TqString linkText;
    const int error = readLink(link.folderFd, name, linkText);
    if (error == ENOENT)
        return (void)missing(link.path);
    // Not a link, or a link elsewhere, is not ours to remove; ours stays while its entry does.
    const bool ours = error == 0 && leadsTo(link, linkText, node.name, installedPath, installedFolder);
    if (!ours)
    {
        foreignShortCuts += entryGone ? 1 : 0;
        if (error == EINVAL)
            return (void)kept(link.path, "not a symbolic link, so not the product's shortcut");
        if (error != 0)
            return (void)kept(link.path, TqString("the link cannot be read: ") + strerror(error));
        return (void)kept(link.path, "a link to somewhere else, not the product's shortcut");
    }
    if (!entryGone)
        return (void)kept(link.path, "the entry it leads to stays");
    settle(node, link.path, goneIsDone(changes->RemoveName(link.folderFd, name).Errno()), link.folderFd,
           name);
}

bool InstallRemover::leadsTo(const ShortCutLink& link, const TqString& linkText, const TqString& entryName,
                             const TqString& installedPath, const NodeIdentity* installedFolder)
{
    // Resolved as the system resolves the link: its text from the link's folder, through whatever
    // links and ".." lie on the way, up to the folder that would hold the entry; then the entry's
    // name. The entry itself may already be gone, its folder is not yet.
    TqString text = linkText;
    while (text.Size() > 1 && text[text.Size() - 1] == '/')
        text = text.Substr(0, text.Size() - 1);
    const unsigned long slash = text.IndexLastOf("/");
    const TqString lastName = slash == TqString::maxLen ? text : text.Substr(slash + 1, TqString::maxLen);
    const TqString folderText = slash == TqString::maxLen ? TqString(".")
                                : slash == 0              ? TqString("/")
                                                          : text.Substr(0, slash);
    if (installedFolder != nullptr && lastName == entryName)
    {
        const FileDescriptor folder(
            openat(link.folderFd, folderText.ConstData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        NodeIdentity identity;
        if (folder.IsOpen() && IdentifyNode(folder.Get(), "", identity))
            return identity == *installedFolder;
    }
    // Where the way no longer exists (the entry's folder is gone too), by the text alone.
    const TqString resolved = isAbsolute(linkText) ? linkText : PathText::Join(link.folderPath, linkText);
    return PathText::Resolved(resolved) == installedPath;
}

Status InstallRemover::shortCutFolderPath(const TqString& dir, TqString& folderPath) const
{
    if (isAbsolute(dir))
    {
        folderPath = PathText::Normalized(dir);
        return Status::Done();
    }
    folderPath = targetPath;
    for (const TqString& name : StringLibrary::Split(dir, TqString("/"), true))
    {
        if (const Status refusal = RemovalGuard::NameRefusal(name); !refusal.IsDone())
            return refusal;
        folderPath = PathText::Join(folderPath, name);
    }
    return Status::Done();
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

bool InstallRemover::FoundNothing() const
{
    const Counts& counts = report.GetCounts();
    return counts.missing > 0 && counts.removed == 0 && counts.failed == 0 && counts.wouldFail == 0 &&
           counts.ignored == 0 && counts.kept == foreignShortCuts;
}

bool InstallRemover::removed(const TqString& path)
{
    report.Removed(path);
    return true;
}

bool InstallRemover::kept(const TqString& path, const TqString& why)
{
    report.Kept(path, why);
    return false;
}

bool InstallRemover::missing(const TqString& path)
{
    report.Missing(path);
    return true;
}

bool InstallRemover::failed(const FileNode& node, const TqString& path, const TqString& reason)
{
    report.Failed(path, reason, node.ignoreInstallErrors);
    return false;
}

bool InstallRemover::refused(const TqString& name, const TqString& reason)
{
    report.Refused(name, reason);
    return false;
}

bool InstallRemover::settle(const FileNode& node, const TqString& path, int error, int folderFd,
                            const char* name)
{
    if (error == 0)
        return removed(path);
    if (error == ENOENT)
        return missing(path);
    return failed(node, path,
                  folderFd >= 0 ? FailureReason(folderFd, name, error) : TqString(strerror(error)));
}
