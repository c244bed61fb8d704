#ifndef TQ_FAILUREREASON_H
#define TQ_FAILUREREASON_H

#include "Status.h"
#include "TqString.h"

struct statx;

// The flags of a node that make the system refuse to remove it, or anything from a folder.
constexpr unsigned ImmutableFlag = 1;
constexpr unsigned AppendOnlyFlag = 2;

// The protection flags (ImmutableFlag, AppendOnlyFlag) of the node name in folderFd, folderFd
// itself for the empty name; 0 when there are none or they cannot be read. The node is never
// followed when a link, and opened only where the file system does not report the flags itself.
unsigned ProtectionFlags(int folderFd, const char* name);

// The same for a node whose status the caller has read already (with statx, or a plain status
// standing in, whose attribute mask is then empty): the flags come from it where the file system
// reports them, so the node is opened only where it does not.
unsigned ProtectionFlags(int folderFd, const char* name, const struct statx& node);

// Why removing name from folderFd failed as failure says, in words a person can act on: the
// system's text, then what stands in the way where it can be told (a protection flag on the entry or its
// folder and the chattr that clears it, a read-only file system, the owner of a folder closed to
// the user or of an entry in a sticky folder).
TqString FailureReason(int folderFd, const char* name, const Status& failure);

#endif
