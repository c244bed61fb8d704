#ifndef TQ_DISKCHANGES_H
#define TQ_DISKCHANGES_H

#include <vector>

#include "Status.h"

// Every change a removal makes to the disk. The tree walk (TreeRemoval) and the removal tool are
// written once against this interface: the real changes act, the removal tool's dry-run ones only
// remember what would be gone, and the uninstaller's removal of its own copy first makes each
// folder writable. All work relative to an open folder and never follow a link. Each returns
// done, or the errno value the system gave (or would give) with the name.
class DiskChanges
{
public:
    virtual ~DiskChanges() = default;

    // Removes name, anything but a directory (a link goes as a link), from the folder folderFd.
    // ENOENT when nothing is there; EISDIR, or EPERM on some systems, for a directory.
    virtual Status RemoveName(int folderFd, const char* name) = 0;

    // Removes the directory name from the folder folderFd when nothing is left in it. ENOTEMPTY
    // (or EEXIST) when something is, ENOENT when nothing is there.
    virtual Status RemoveEmptyDirectory(int folderFd, const char* name) = 0;

    // Called with a folder the walk has opened, before it removes what is in it. Nothing by default.
    virtual void PrepareToEmpty(int /*folderFd*/) {}

    // Called after PrepareToEmpty with the names the walk is about to remove with RemoveName from
    // that folder, in the order it will ask (it may pass over some). They stay valid until
    // DoneWithFolder. Nothing by default.
    virtual void WillRemoveNames(int /*folderFd*/, const std::vector<const char*>& /*names*/) {}

    // Called when the walk is done with a folder it prepared, before it closes the descriptor
    // (whose number may then name another folder). Nothing by default.
    virtual void DoneWithFolder(int /*folderFd*/) {}
};

// The changes themselves.
class RealDiskChanges : public DiskChanges
{
public:
    Status RemoveName(int folderFd, const char* name) override;
    Status RemoveEmptyDirectory(int folderFd, const char* name) override;
};

#endif
