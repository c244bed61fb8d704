#ifndef TQ_NODEIDENTITY_H
#define TQ_NODEIDENTITY_H

#include <cstdint>
#include <sys/types.h>

#include "Status.h"

// Where a node lives on disk: its file system and its inode there, which name the node itself
// whatever path or mount shows it, and the mount it was reached through.
struct NodeIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    // The kernel's mount id, so that a bind mount of a folder of the same file system counts as
    // a mount of its own; the device number where the kernel does not tell the mount.
    uint64_t mount = 0;

    // The same node, through whichever mount.
    bool operator==(const NodeIdentity& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// The identity of name in the directory directoryFd, following no link; the empty name means
// directoryFd itself (which may be any open node), and directoryFd may be AT_FDCWD; or why it
// cannot be read.
Result<NodeIdentity> IdentifyNode(int directoryFd, const char* name);

#endif
