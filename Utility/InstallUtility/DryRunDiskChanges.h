#ifndef TQ_DRYRUNDISKCHANGES_H
#define TQ_DRYRUNDISKCHANGES_H

#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "DiskChanges.h"

// Changes nothing, but answers as the real changes would on a disk where everything it was
// asked to remove is gone: a name goes once, and a directory is empty when all in it went.
// What would stop the real change is foreseen with this process's own rights (the dry run runs
// with the rights the real run would have), in the order the system checks it: a read-only file
// system (EROFS); a missing entry (ENOENT); a folder the effective user may not write and search
// (EACCES), or an immutable or append-only one (EPERM); a sticky folder and an entry owned by
// someone else (EPERM); an immutable or append-only entry (EPERM); then the entry's type, and
// for a directory a mount on it (EBUSY) and its emptiness.
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

        bool operator<(const Entry& other) const;
    };

    // Sets entry to name in the folder folderFd; the errno value when the folder cannot be read.
    static int identify(int folderFd, const char* name, Entry& entry);
    // The errno value that removing name from the folder folderFd would meet before the system
    // looks at the entry's type: 0 when the rights and flags let it go; entry is set to its status.
    static int foreseeRefusal(int folderFd, const char* name, struct stat& entry);
    // What either change meets before the entry's type matters: a folder that cannot be read, an
    // entry this dry run already took (ENOENT), or what foreseeRefusal finds.
    int foresee(int folderFd, const char* name, Entry& entry, struct stat& status) const;
    // 0 when every name in the open directory is gone, else ENOTEMPTY (also when it cannot be
    // listed: then it is not known to be empty).
    int emptiness(int directoryFd) const;

    std::set<Entry> gone;
};

#endif
