#ifndef TQ_DRYRUNDISKCHANGES_H
#define TQ_DRYRUNDISKCHANGES_H

#include <map>
#include <memory_resource>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DiskChanges.h"
#include "StatusReadAhead.h"

// Changes nothing, but answers as the real changes would on a disk where everything it was
// asked to remove is gone: a name goes once, and a directory is empty when all in it went.
// What would stop the real change is foreseen with this process's own rights (the dry run runs
// with the rights the real run would have), in the order the system checks it: a read-only file
// system (EROFS); a missing entry (ENOENT); a folder the effective user may not write and search
// (EACCES), or an immutable or append-only one (EPERM); a sticky folder and an entry owned by
// someone else (EPERM); an immutable or append-only entry (EPERM); then the entry's type, and
// for a directory its emptiness. (A folder something is mounted on is never asked about: the walks
// do not enter a folder on another mount.)
//
// What holds for every entry of a folder (the rights on it, its flags, whether its file system is
// read-only) is found once per folder. A folder the walk prepared is read once, when prepared, so
// that each of its entries costs one status read, its own; any other folder is read again at each
// entry, and its facts found again when that status changed. The status of the names the walk
// says it will remove from a prepared folder is read ahead on a second thread (StatusReadAhead),
// which also lists the folder for the question whether it would be empty.
class DryRunDiskChanges : public DiskChanges
{
public:
    DryRunDiskChanges();

    Status RemoveName(int folderFd, const char* name) override;
    Status RemoveEmptyDirectory(int folderFd, const char* name) override;
    void PrepareToEmpty(int folderFd) override;
    void WillRemoveNames(int folderFd, const std::vector<const char*>& names) override;
    void DoneWithFolder(int folderFd) override;

private:
    // A folder's device and inode.
    using FolderKey = std::pair<dev_t, ino_t>;

    // The names taken in one folder, kept in the arena.
    using Names = std::pmr::unordered_set<std::string_view>;

    // What removing any entry of one folder would meet before the entries themselves are looked
    // at, for the folder as its status was read.
    struct FolderFacts
    {
        struct statx status = {};
        bool readOnly = false;
        // EACCES, or EPERM for an immutable or append-only folder, or 0.
        int refusal = 0;
        uid_t user = 0;
    };

    // A folder the walk prepared, while its descriptor is open: its facts and the names taken in it.
    struct PreparedFolder
    {
        int fd = -1;
        FolderFacts facts;
        Names* gone = nullptr;
    };

    // A name, and the names taken in its folder.
    struct Entry
    {
        Names* folderGone = nullptr;
        std::string_view name;
    };

    // The errno value each change would meet, or 0.
    int removeName(int folderFd, const char* name);
    int removeEmptyDirectory(int folderFd, const char* name);

    // The facts of the open folder folderFd, whose status was just read.
    static FolderFacts factsOf(int folderFd, const struct statx& folder);
    static FolderKey keyOf(const struct statx& folder);
    // The names taken in the folder of that status.
    Names& goneIn(const struct statx& folder);
    const PreparedFolder* preparedFolder(int folderFd) const;
    // What either change meets before the entry's type matters: a folder that cannot be read, an
    // entry this dry run already took (ENOENT), a read-only file system, a missing entry, then the
    // rights and flags; status is set to the entry's status.
    int foresee(int folderFd, const char* name, Entry& entry, struct statx& status);
    // 0 when every name in the directory named name in folderFd, of that status, is gone, else
    // ENOTEMPTY (also when it cannot be listed: then it is not known to be empty), or why it
    // cannot be opened.
    int emptiness(int folderFd, const char* name, const struct statx& status);
    // The names taken in that folder, or null when none were.
    const Names* goneFrom(const FolderKey& folder) const;
    // Whether name is gone from the folder whose names taken are goneThere (null when none).
    static bool isGone(const Names* goneThere, const char* name);

    // A copy of name in the arena, for a set of names taken.
    std::string_view keep(std::string_view name);

    // Holds the names taken and the sets of them: they only grow, and all go together at the
    // end, in a few large blocks rather than one by one.
    std::pmr::monotonic_buffer_resource arena;
    // Every name taken so far, by folder (device and inode, whichever descriptor or mount shows
    // it): an entry is looked up among the names of its own folder, which the walk handles
    // together, rather than among all of a large product's.
    std::pmr::map<FolderKey, Names> gone{&arena};
    // The folder the walk was last done with, when the read-ahead listed it, and its names, each
    // ended by a NUL byte: the walk asks next whether it is empty.
    FolderKey lastListedFolder;
    std::string lastListed;
    bool lastListedKnown = false;
    // The folders the walk works in, innermost last.
    std::vector<PreparedFolder> prepared;
    // The last folder read that was not prepared, and its facts.
    FolderFacts lastFolder;
    bool lastFolderKnown = false;
    // Last, so that its thread has stopped before the rest goes.
    StatusReadAhead readAhead;
};

#endif
