#ifndef TQ_WHOLEREMOVAL_H
#define TQ_WHOLEREMOVAL_H

#include <cstdint>
#include <optional>

#include "DiskChanges.h"
#include "Failure.h"
#include "RemovalGuard.h"

// Empties a directory on disk (an application or plug-in bundle listed as one entry), working
// only relative to directory descriptors: links are removed, never followed, and a folder the
// guard refuses to enter (on another mount than the emptied one, the target path, "/") is left
// alone.
namespace WholeRemoval
{

// Directories nested deeper than this below the emptied one are not entered (a failure).
const unsigned maxDepth = 256;

// Removes through changes everything inside the open directory directoryFd, which lies on
// mount and stays open and in place; with dry-run changes the same walk finds what would stop
// the removal. Returns the first thing that could not go, its path relative to the directory;
// it carries on with the rest all the same. What another removal took meanwhile is gone, not a
// failure.
[[nodiscard]] std::optional<Failure> RemoveContents(int directoryFd, uint64_t mount, DiskChanges& changes,
                                                    const RemovalGuard& guard);

} // namespace WholeRemoval

#endif
