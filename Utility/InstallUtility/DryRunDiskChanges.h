#ifndef TQ_DRYRUNDISKCHANGES_H
#define TQ_DRYRUNDISKCHANGES_H

#include <set>
#include <string>
#include <sys/types.h>

#include "DiskChanges.h"

// Changes nothing, but answers as the real changes would on a disk where everything it was
// asked to remove is gone: a name goes once, and a directory is empty when all in it went.
class DryRunDiskChanges : public DiskChanges
{
public:
    int RemoveName(int folderFd, const char* name) override;
    int RemoveEmptyDirectory(int folderFd, const char* name) override;

private:
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
    // 0 when every name in the open directory is gone, else ENOTEMPTY (also when it cannot be
    // listed: then it is not known to be empty).
    int emptiness(int directoryFd) const;

    std::set<Entry> gone;
};

#endif
