#include "TreeRemoval.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "FileDescriptor.h"
#include "FolderListing.h"

namespace
{

struct Entry
{
    std::string name;
    bool isDirectory;
};

// A folder being emptied: its names are read when it is entered (removing while reading a folder
// may skip names), then handled one by one.
struct Level
{
    FileDescriptor fd;
    std::string name;  // in the folder above
    std::string where; // relative to the emptied folder, with a trailing "/" unless it is the top
    std::vector<Entry> entries;
    size_t next = 0;
};

class Walk
{
public:
    Walk(DiskChanges& removals, const TreeRemoval::EntryCheck* entryCheck, uint64_t topMount)
        : changes(removals), check(entryCheck), mount(topMount)
    {
    }

    void Run(FileDescriptor top)
    {
        Level first;
        first.fd = std::move(top);
        if (!prepare(first))
            return;
        levels.push_back(std::move(first));
        while (!levels.empty())
        {
            Level& level = levels.back();
            if (level.next == level.entries.size())
            {
                leave();
                continue;
            }
            const Entry& entry = level.entries[level.next++];
            if (entry.isDirectory)
                enter(level, entry.name);
            else
                settle(level.where + entry.name, changes.RemoveName(level.fd.Get(), entry.name.c_str()));
        }
    }

    Status firstFailure;

private:
    // Done with the top level: the folder it empties goes from the level above.
    void leave()
    {
        const std::string name = std::move(levels.back().name);
        const std::string where = std::move(levels.back().where);
        changes.DoneWithFolder(levels.back().fd.Get());
        levels.pop_back();
        if (!levels.empty())
            settle(where.substr(0, where.size() - 1),
                   changes.RemoveEmptyDirectory(levels.back().fd.Get(), name.c_str()));
    }

    void enter(const Level& parent, const std::string& name)
    {
        const std::string path = parent.where + name;
        if (levels.size() > TreeRemoval::maxDepth)
        {
            const std::string why = ": nested deeper than " + std::to_string(TreeRemoval::maxDepth) +
                                    " folders; removed what lay above";
            return fail(Status::Failed(0, shortened(path) + why.c_str()));
        }
        // O_NOFOLLOW: an entry swapped for a link since it was listed is not entered but removed
        // as the link it now is; so is one swapped for a file.
        Level inner;
        inner.fd = FileDescriptor(
            openat(parent.fd.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!inner.fd.IsOpen())
        {
            const Status opened = Status::FromErrno(pathText(path));
            if (opened.IsNotFolder())
                return settle(path, changes.RemoveName(parent.fd.Get(), name.c_str()));
            return settle(path, opened);
        }
        const Result<NodeIdentity> folder = IdentifyNode(inner.fd.Get(), "");
        if (!folder.IsDone())
            return fail(folder.GetStatus().Because(pathText(path)));
        Status refusal = check != nullptr ? check->EntryRefusal(folder.Value()) : Status::Done();
        if (refusal.IsDone())
            refusal = TreeRemoval::MountRefusal(folder.Value(), mount);
        if (!refusal.IsDone())
            return fail(Status::Failed(0, pathText(path) + ": " + refusal.Message()));
        inner.name = name;
        inner.where = path + "/";
        if (prepare(inner))
            levels.push_back(std::move(inner));
    }

    // Lets the changes prepare the level's folder and reads its names; false when it cannot be listed.
    bool prepare(Level& level)
    {
        changes.PrepareToEmpty(level.fd.Get());
        FolderListing listing(level.fd.Get());
        if (!listing.Error().IsDone())
        {
            changes.DoneWithFolder(level.fd.Get());
            fail(listing.Error().Because(pathText(level.where + ".")));
            return false;
        }
        while (const dirent* found = listing.Next())
            level.entries.push_back(Entry{found->d_name, isDirectory(level.fd.Get(), *found)});
        // The names stay where they are when the level moves: its vector of entries moves whole.
        std::vector<const char*> names;
        for (const Entry& entry : level.entries)
            if (!entry.isDirectory)
                names.push_back(entry.name.c_str());
        changes.WillRemoveNames(level.fd.Get(), names);
        return true;
    }

    static bool isDirectory(int folderFd, const dirent& entry)
    {
        if (entry.d_type != DT_UNKNOWN)
            return entry.d_type == DT_DIR;
        struct stat status;
        return fstatat(folderFd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
    }

    static TqString pathText(const std::string& path) { return TqString(path.data(), path.size()); }

    // A path too deep to print whole: its first two names, then "...".
    static TqString shortened(const std::string& path)
    {
        const size_t first = path.find('/');
        const size_t second = first == std::string::npos ? first : path.find('/', first + 1);
        return pathText(second == std::string::npos ? path : path.substr(0, second) + "/...");
    }

    // What another removal took meanwhile is gone all the same.
    void settle(const std::string& path, const Status& change)
    {
        if (!change.IsDone() && !change.IsNotFound())
            fail(change.Because(pathText(path)));
    }

    void fail(const Status& failure)
    {
        if (firstFailure.IsDone())
            firstFailure = failure;
    }

    DiskChanges& changes;
    const TreeRemoval::EntryCheck* check;
    uint64_t mount;
    std::vector<Level> levels;
};

} // namespace

Status TreeRemoval::MountRefusal(const NodeIdentity& folder, uint64_t mount)
{
    if (folder.mount != mount)
        return Status::Failed(0, "on another mount, not entered");
    return Status::Done();
}

Status TreeRemoval::RemoveContents(int directoryFd, DiskChanges& changes, const EntryCheck* check)
{
    // The walk's levels own their descriptors; the caller keeps its own.
    FileDescriptor top(fcntl(directoryFd, F_DUPFD_CLOEXEC, 0));
    if (!top.IsOpen())
        return Status::FromErrno(".");
    const Result<NodeIdentity> folder = IdentifyNode(top.Get(), "");
    if (!folder.IsDone())
        return folder.GetStatus().Because(".");
    Walk walk(changes, check, folder.Value().mount);
    walk.Run(std::move(top));
    return walk.firstFailure;
}
