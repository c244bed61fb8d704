#ifndef TQ_DISKCHANGES_H
#define TQ_DISKCHANGES_H

// Every change the removal makes to the disk. The walk is written once against this interface:
// the real changes act, the dry-run ones (DryRunDiskChanges) only remember what would be gone.
// Both work relative to an open folder and never follow a link. Each returns 0 when done, else
// the errno value the system gave (or would give).
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
};

// The changes themselves.
class RealDiskChanges : public DiskChanges
{
public:
    int RemoveName(int folderFd, const char* name) override;
    int RemoveEmptyDirectory(int folderFd, const char* name) override;
};

#endif
