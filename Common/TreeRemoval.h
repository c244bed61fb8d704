#ifndef TQ_TREEREMOVAL_H
#define TQ_TREEREMOVAL_H

#include "DiskChanges.h"
#include "NodeIdentity.h"
#include "Status.h"

// The one walk that empties a folder tree: the removal tool's for a bundle listed as one entry,
// the uninstaller's for its own temporary copy. It works only relative to folder descriptors and
// opens every folder with O_NOFOLLOW, so an entry swapped for a link after it was listed is
// removed as a link, never entered. It never enters a folder on another mount than the emptied
// one. It keeps its own stack on the heap: a deep tree costs memory, not call stack.
namespace TreeRemoval
{

// Folders nested deeper than this below the emptied one are not entered: each level holds a
// descriptor. What lies above them is removed all the same.
const unsigned maxDepth = 256;

// A further say on which folders the walk may enter (the removal tool's: never its target or "/").
class EntryCheck
{
public:
    virtual ~EntryCheck() = default;
    // Done when the walk may enter folder, else the reason it may not.
    virtual Status EntryRefusal(const NodeIdentity& folder) const = 0;
};

// Done when folder lies on mount, else why it is not entered: a folder on another mount (bind
// mounts of the same file system included) is never entered, by the walk nor by the removal tool.
Status MountRefusal(const NodeIdentity& folder, uint64_t mount);

// Removes through changes everything inside the open folder directoryFd, which stays open and in
// place. It carries on past what cannot go and returns the first such thing: its message is the
// path relative to the folder, with the errno value, or "PATH: why" without one. What another
// removal took meanwhile is gone, not a failure.
Status RemoveContents(int directoryFd, DiskChanges& changes, const EntryCheck* check = nullptr);

} // namespace TreeRemoval

#endif
