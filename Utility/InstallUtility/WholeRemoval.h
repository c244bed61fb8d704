#ifndef TQ_WHOLEREMOVAL_H
#define TQ_WHOLEREMOVAL_H

#include "DiskChanges.h"
#include "RemovalGuard.h"
#include "Status.h"

// Empties a directory on disk that the definition lists as one entry (an application or plug-in
// bundle), through the one tree walk (TreeRemoval), which the guard keeps out of the target path
// and "/" besides other mounts.
namespace WholeRemoval
{

// Removes through changes everything inside the open directory directoryFd, which stays open and
// in place; with dry-run changes the same walk finds what would stop the removal. Returns the
// first thing that could not go, its path relative to the directory (TreeRemoval::RemoveContents).
Status RemoveContents(int directoryFd, DiskChanges& changes, const RemovalGuard& guard);

} // namespace WholeRemoval

#endif
