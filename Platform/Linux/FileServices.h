#ifndef TQ_FILESERVICES_H
#define TQ_FILESERVICES_H

#include <cstddef>
#include <sys/types.h>

#include "DiskChanges.h"
#include "Status.h"
#include "TqString.h"
#include "TreeCopy.h"

// The file services the uninstaller uses to make its temporary copy.

// The first of TMPDIR, /tmp and /var/tmp that will hold the uninstaller's copy, by real path: a
// folder that it and every folder above it are safe for user (ProtectedPath: a private
// folder protects only what its parents do), that user may write, and whose file system allows
// programs to run. When none will, the failure says for each candidate why, one line each.
Result<TqString> ChooseTemporaryDirectory(const char* tmpdirValue, uid_t user);

// How a run string is spelled, and a run folder named (IsRunFolderName checks the same):
// kRunDigits hexadecimal digits, kRunSeparator, the process id.
inline constexpr size_t kRunDigits = 32;
inline constexpr char kRunSeparator = '-';

// kRunDigits hexadecimal digits from the system's random source, kRunSeparator and the process id.
TqString UniqueRunString();

// Creates one directory with mode 0700; fails when the path exists or cannot be made.
Status CreatePrivateDirectory(const TqString& path);


// The changes that remove the uninstaller's own copy: real ones, each folder made writable for
// its owner before it is emptied, so that a read-only folder of the copy goes too.
class OwnerWritableChanges : public RealDiskChanges
{
public:
    void PrepareToEmpty(int folderFd) override;
};

// Removes a file, link or folder tree through OwnerWritableChanges by the one tree walk
// (TreeRemoval): no link followed, no other mount entered. Done when nothing is left, else the
// first thing that stays, its path from the given one.
Status RemoveTree(const TqString& path);
// The same for name in the open folder parent (which may be AT_FDCWD), through changes.
Status RemoveTreeAt(int parent, const char* name, DiskChanges& changes);

#endif
