#ifndef TQ_TREECOPY_H
#define TQ_TREECOPY_H

#include <functional>

#include "Status.h"
#include "TqString.h"

// The uninstaller's copy of its bundle, made the way the tree removal walks: the source is opened
// once and everything below it is reached relative to folder descriptors with O_NOFOLLOW, the
// copy is made relative to the open folder it goes into, and the walk keeps its stack on the heap.

// What a copy takes from elsewhere than its source, and when it stops.
struct CopyOptions
{
    // A file of the copy, by its path inside the copied tree ("Contents/MacOS/Uninstall"), whose
    // contents come from replacementFd instead of the source: the running program, opened once
    // through /proc/self/exe, so the copy holds what runs whatever has been put at its name since.
    // It is written whether the source holds something of that name or not.
    TqString replacedFile;
    int replacementFd = -1;
    // Asked between entries and between a file's blocks; true ends the copy with EINTR.
    std::function<bool()> stopAsked;
};

// Copies a file, link or folder tree to name in the open folder destinationFolderFd, where
// nothing of that name may exist. Symbolic links are copied as links and never followed;
// permission bits are kept but for group's and others' write (the copy is private); sockets,
// FIFOs and devices are left out; a folder copied into itself makes the copy fail. What a failed
// copy made is left for the caller to remove.
Status CopyTreeAt(const TqString& from, int destinationFolderFd, const char* name,
                  const CopyOptions& options = CopyOptions());

// The same to a path: the folder it goes into is opened once.
Status CopyTree(const TqString& from, const TqString& to, const CopyOptions& options = CopyOptions());

#endif
