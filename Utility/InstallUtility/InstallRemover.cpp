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

// The text of the link name in folderFd (ENAMETOOLONG when the text is longer than any path, so
// that it is never compared cut short).
Result<TqString> readLink(int folderFd, const char* name)
{
    char buffer[PATH_MAX + 1];
    const ssize_t size = readlinkat(folderFd, name, buffer, sizeof buffer);
    if (size < 0)
        return Status::FromErrno(name);
    if (static_cast<size_t>(size) == sizeof buffer)
        return Status::Failed(ENAMETOOLONG, name);
    return TqString(buffer, static_cast<unsigned long>(size));
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
    const Result<NodeIdentity> file = IdentifyNode(fileFd, "");
    if (!file.IsDone())
        return;
    definitionHolders.push_back(file.Value());
    for (FileDescriptor folder(fcntl(folderFd, F_DUPFD_CLOEXEC, 0)); folder.IsOpen();
         folder = FileDescriptor(openat(folder.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC)))
    {
        const Result<NodeIdentity> identity = IdentifyNode(folder.Get(), "");
        if (!identity.IsDone() || identity.Value() == definitionHolders.back())
            return;
        definitionHolders.push_back(identity.Value());
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
    FileDescriptor given(givenTargetFd >= 0 ? fcntl(givenTargetFd, F_DUPFD_CLOEXEC, 0) : -1);
    Result<Directory> target =
        given.IsOpen() ? identified(std::move(given), targetPath) : Status::FromErrno(targetPath);
    const Result<NodeIdentity> rootFolder = IdentifyNode(AT_FDCWD, "/");
    const Status& failure = !target.IsDone() ? target.GetStatus() : rootFolder.GetStatus();
    if (!target.IsDone() || !rootFolder.IsDone())
    {
        (void)fprintf(errors, "cannot read the target folder %s: %s\n",
                      EscapeLineText(targetPath).ConstData(), strerror(failure.Errno()));
        return 2;
    }
    guard = RemovalGuard(targetPath, target.Value().identity, rootFolder.Value());
    targetFd = target.Value().fd.Get();
    handleTree(target.TakeValue(), root);
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
    prepareToEmpty(levels[0]);
    while (!levels.empty())
    {
        Level& level = levels.back();
        if (level.next == level.entries.size())
        {
            const Level done = std::move(level);
            levels.pop_back();
            changes->DoneWithFolder(done.directory.fd.Get());
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
        {
            prepareToEmpty(inner);
            levels.push_back(std::move(inner));
        }
    }
}

Result<InstallRemover::Directory> InstallRemover::identified(FileDescriptor fd, const TqString& path)
{
    const Result<NodeIdentity> identity = IdentifyNode(fd.Get(), "");
    if (!identity.IsDone())
        return identity.GetStatus().Because(path);
    return Directory{std::move(fd), identity.Value(), path};
}

Result<InstallRemover::Directory> InstallRemover::openDirectory(int parentFd, const TqString& name,
                                                                const TqString& path)
{
    FileDescriptor fd(openat(parentFd, name.ConstData(), openDirectoryFlags));
    if (!fd.IsOpen())
        return Status::FromErrno(path);
    return identified(std::move(fd), path);
}

bool InstallRemover::enterDirectory(const Directory& parent, const FileNode& node, const TqString& path,
                                    Level& level)
{
    Result<Directory> opened = openDirectory(parent.fd.Get(), node.name, path);
    if (!opened.IsDone())
    {
        handleUnopenedDirectory(parent, node, path, opened.GetStatus());
        return false;
    }
    level.directory = opened.TakeValue();
    // Like a bundle's folders, a listed directory on another mount is never entered.
    if (const Status refusal = guard.EntryRefusal(level.directory.identity, parent.identity.mount);
        !refusal.IsDone())
    {
        failed(node, path, refusal.Message());
        return false;
    }
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
        const Result<NodeIdentity> identity =
            IdentifyNode(level.directory.fd.Get(), (*entry)->name.ConstData());
        if (identity.IsDone() && holdsDefinition(identity.Value()))
        {
            level.holdsDefinition = *entry;
            level.entries.erase(entry);
            level.entries.push_back(level.holdsDefinition);
            return;
        }
    }
}

void InstallRemover::prepareToEmpty(const Level& level) const
{
    const int fd = level.directory.fd.Get();
    changes->PrepareToEmpty(fd);
    std::vector<const char*> names;
    for (const FileNode* entry : level.entries)
        if (!entry->isDirectory && !entry->dontDelete)
            names.push_back(entry->name.ConstData());
    changes->WillRemoveNames(fd, names);
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
    const Status removal = changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData());
    if (removal.IsNotEmpty())
    {
        const unsigned long unlisted = unlistedEntries(level);
        if (unlisted == 0)
            return (void)kept(path, "holds listed entries that stay");
        const std::string why = "holds " + std::to_string(unlisted) +
                                (unlisted == 1 ? " entry" : " entries") + " the product did not install";
        return (void)kept(path, TqString(why.data(), why.size()));
    }
    // Already gone: another removal took it once it was empty.
    settle(node, path, removal.DoneIfGone(), parent.fd.Get(), node.name.ConstData());
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
    Status removal = changes->RemoveName(parent.fd.Get(), name);
    // A directory shows itself by the error: a bundle, listed as one entry.
    if (removal.MayBeFolder())
    {
        struct stat status;
        if (fstatat(parent.fd.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            removal = Status::FromErrno(name); // not found too when another removal took it meanwhile
        else if (S_ISDIR(status.st_mode))
            return handleBundle(parent, node, path);
    }
    return settle(node, path, removal, parent.fd.Get(), name);
}

bool InstallRemover::handleBundle(const Directory& parent, const FileNode& node, const TqString& path)
{
    const Result<Directory> opened = openDirectory(parent.fd.Get(), node.name, path);
    if (!opened.IsDone())
        return settle(node, path, opened.GetStatus());
    const Directory& bundle = opened.Value();
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
                  changes->RemoveEmptyDirectory(parent.fd.Get(), node.name.ConstData()).DoneIfGone(),
                  parent.fd.Get(), node.name.ConstData());
}

bool InstallRemover::handleUnopenedDirectory(const Directory& parent, const FileNode& node,
                                             const TqString& path, const Status& opening)
{
    if (opening.IsNotFound())
    {
        missing(path);
        reportMissingBelow(node, path);
        return true;
    }
    // A link or a file in place of a listed directory: never entered, and left as it is.
    struct stat status;
    if (opening.IsLink() ||
        (fstatat(parent.fd.Get(), node.name.ConstData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(status.st_mode)))
        return failed(node, path, "a symbolic link in place of a directory, not followed");
    return failed(node, path, opening.IsNotFolder() ? "not a directory" : strerror(opening.Errno()));
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
    if (const Status refusal = RemovalGuard::NameRefusal(name); !refusal.IsDone())
    {
        refused(name, refusal.Message());
        return;
    }
    const Result<TqString> folderPathFound = shortCutFolderPath(dir);
    if (!folderPathFound.IsDone())
    {
        refused(dir, folderPathFound.GetStatus().Message());
        return;
    }
    const TqString& folderPath = folderPathFound.Value();
    const TqString path = PathText::Join(folderPath, name);
    const Result<FileDescriptor> folder = openShortCutFolder(dir, folderPath);
    if (folder.IsDone())
        removeShortCutLink(node, ShortCutLink{folder.Value().Get(), folderPath, path}, installedPath,
                           entryGone, installedFolder);
    else
        settle(node, path, folder.GetStatus());
}

void InstallRemover::removeShortCutLink(const FileNode& node, const ShortCutLink& link,
                                        const TqString& installedPath, bool entryGone,
                                        const NodeIdentity* installedFolder)
{
    const char* name = node.shortCut.name.ConstData();
    const Result<TqString> linkText = readLink(link.folderFd, name);
    if (linkText.GetStatus().IsNotFound())
        return (void)missing(link.path);
    // Not a link, or a link elsewhere, is not ours to remove; ours stays while its entry does.
    const bool ours =
        linkText.IsDone() && leadsTo(link, linkText.Value(), node.name, installedPath, installedFolder);
    if (!ours)
    {
        foreignShortCuts += entryGone ? 1 : 0;
        const Status& reading = linkText.GetStatus();
        if (reading.IsInvalidArgument())
            return (void)kept(link.path, "not a symbolic link, so not the product's shortcut");
        if (!linkText.IsDone())
            return (void)kept(link.path, TqString("the link cannot be read: ") + strerror(reading.Errno()));
        return (void)kept(link.path, "a link to somewhere else, not the product's shortcut");
    }
    if (!entryGone)
        return (void)kept(link.path, "the entry it leads to stays");
    settle(node, link.path, changes->RemoveName(link.folderFd, name).DoneIfGone(), link.folderFd, name);
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
        if (folder.IsOpen())
        {
            const Result<NodeIdentity> identity = IdentifyNode(folder.Get(), "");
            if (identity.IsDone())
                return identity.Value() == *installedFolder;
        }
    }
    // Where the way no longer exists (the entry's folder is gone too), by the text alone.
    const TqString resolved = isAbsolute(linkText) ? linkText : PathText::Join(link.folderPath, linkText);
    return PathText::Resolved(resolved) == installedPath;
}

Result<TqString> InstallRemover::shortCutFolderPath(const TqString& dir) const
{
    if (isAbsolute(dir))
        return PathText::Normalized(dir);
    TqString folderPath = targetPath;
    for (const TqString& name : StringLibrary::Split(dir, TqString("/"), true))
    {
        if (const Status refusal = RemovalGuard::NameRefusal(name); !refusal.IsDone())
            return refusal;
        folderPath = PathText::Join(folderPath, name);
    }
    return folderPath;
}

Result<FileDescriptor> InstallRemover::openShortCutFolder(const TqString& dir,
                                                          const TqString& folderPath) const
{
    // A place of the user's choosing outside the product, such as a desktop: taken as given.
    // Otherwise under the target path, one name at a time, following no link.
    const bool given = isAbsolute(dir);
    FileDescriptor folder(given ? open(folderPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                : openat(targetFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen())
        return Status::FromErrno(folderPath);
    if (given)
        return folder;
    for (const TqString& name : StringLibrary::Split(dir, TqString("/"), true))
    {
        folder = FileDescriptor(openat(folder.Get(), name.ConstData(), openDirectoryFlags));
        if (!folder.IsOpen())
            return Status::FromErrno(folderPath);
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

bool InstallRemover::settle(const FileNode& node, const TqString& path, const Status& change, int folderFd,
                            const char* name)
{
    if (change.IsDone())
        return removed(path);
    if (change.IsNotFound())
        return missing(path);
    return failed(node, path,
                  folderFd >= 0 ? FailureReason(folderFd, name, change) : TqString(strerror(change.Errno())));
}
