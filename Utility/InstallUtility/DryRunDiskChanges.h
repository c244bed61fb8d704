#ifndef TQ_DRYRUNDISKCHANGES_H
#define TQ_DRYRUNDISKCHANGES_H

#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

#include "DiskChanges.h"

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
// read-only) is found once per folder and kept while the folder's status stays the same, so that
// an entry costs two status reads, the folder's and its own.
class DryRunDiskChanges : public DiskChanges
{
public:
    Status RemoveName(int folderFd, const char* name) override;
    Status RemoveEmptyDirectory(int folderFd, const char* name) override;

private:
    // The errno value each change would meet, or 0.
    int removeName(int folderFd, const char* name);
    int removeEmptyDirectory(int folderFd, const char* name);

    // A name in a folder; the folder by device and inode, whichever descriptor or mount shows it.
    struct Entry
    {
        dev_t device = 0;
        ino_t inode = 0;
        std::string name;

    };

    // What removing any entry of one folder would meet before the entries themselves are looked
    // at, for the folder as its status was read.
    struct FolderFacts
    {
        struct statx status = {};
        bool known = false;
        bool readOnly = false;
        // EACCES, or EPERM for an immutable or append-only folder, or 0.
        int refusal = 0;
        uid_t user = 0;
    };

    // Sets entry to name in the folder folderFd; the errno value when the folder cannot be read.
    static int identify(int folderFd, const char* name, Entry& entry);
    // The facts of the open folder folderFd, whose status was just read; computed again only
    // when that status differs from the one they were found for.
    const FolderFacts& factsOf(int folderFd, const struct statx& folder);
    // What either change meets before the entry's type matters: a folder that cannot be read, an
    // entry this dry run already took (ENOENT), a read-only file system, a missing entry, then the
    // rights and flags; status is set to the entry's status.
    int foresee(int folderFd, const char* name, Entry& entry, struct statx& status);
    // 0 when every name in the open directory is gone, else ENOTEMPTY (also when it cannot be
    // listed: then it is not known to be empty).
    int emptiness(int directoryFd) const;

    bool isGone(const Entry& entry) const;
    void markGone(Entry& entry);

    // Every name taken so far, by folder: an entry is looked up among the few names of its own
    // folder, which the walk handles together, rather than among all of a large product's.
    std::map<std::pair<dev_t, ino_t>, std::set<std::string>> gone;
    FolderFacts facts;
};

#endif
