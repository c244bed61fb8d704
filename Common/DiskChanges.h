#ifndef TQ_DISKCHANGES_H
#define TQ_DISKCHANGES_H

// Every change a removal makes to the disk. The tree walk (TreeRemoval) and the removal tool are
// written once against this interface: the real changes act, the removal tool's dry-run ones only
// remember what would be gone, and the uninstaller's removal of its own copy first makes each
// folder writable. All work relative to an open folder and never follow a link. Each returns 0
// when done, else the errno value the system gave (or would give): the walk turns it into the
// Status it reports.
class DiskChanges
{
public:
    virtual ~DiskChanges() = default;

    // Removes name, anything but a directory (a link goes as a link), from the folder folderFd.
    // ENOENT when nothing is there; EISDIR, or EPERM on some systems, for a directory.
    [[nodiscard]] virtual int RemoveName(int folderFd, const char* name) = 0;

    // Removes the directory name from the folder folderFd when nothing is left in it. ENOTEMPTY
    // (or EEXIST) when something is, ENOENT when nothing is there.
    [[nodiscard]] virtual int RemoveEmptyDirectory(int folderFd, const char* name) = 0;

    // Called with a folder the walk has opened, before it empties it. Nothing by default.
    virtual void PrepareToEmpty(int /*folderFd*/) {}
};

// The changes themselves.
class RealDiskChanges : public DiskChanges
{
public:
    int RemoveName(int folderFd, const char* name) override;
    int RemoveEmptyDirectory(int folderFd, const char* name) override;
};

#endif
