#ifndef TQ_WHOLEREMOVAL_H
#define TQ_WHOLEREMOVAL_H

#include "RemovalGuard.h"
#include "TqString.h"

// Empties a directory on disk (an application or plug-in bundle listed as one entry), working
// only relative to directory descriptors: links are removed, never followed, and a folder the
// guard refuses to enter (on another mount than the emptied one, the target path, "/") is left
// alone.
namespace WholeRemoval
{

// Directories nested deeper than this below the emptied one are not entered (a failure).
const unsigned maxDepth = 256;

// Removes everything inside the open directory directoryFd, which stays open and in place.
// With dryRun nothing changes, but the same walk finds what would stop the removal. Returns the
// unset string on success, else "RELATIVE/PATH: reason" for the first thing that could not go;
// it carries on with the rest all the same. What another removal took meanwhile is gone, not
// a failure.
TqString RemoveContents(int directoryFd, bool dryRun, const RemovalGuard& guard);

} // namespace WholeRemoval

#endif
