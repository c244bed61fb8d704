#ifndef TQ_TRUSTEDFILES_H
#define TQ_TRUSTEDFILES_H

#include <sys/types.h>

#include "Status.h"
#include "TqString.h"

// Which files may be handed to root. A file is only as safe as the folders above it: whoever may
// rename an entry on the way can put their own file in its place.

// The real path of path when it and every folder above it are owned by root or by user, no one
// else may write the file, and group or others may write a folder only when it carries the sticky
// bit. Unset when any of that does not hold, or when the path is neither a folder nor a regular file.
[[nodiscard]] TqString RealPathIfSafe(const TqString& path, uid_t user);

// The removal tool and the two data files it reads.
struct RemovalFiles
{
    TqString tool;
    TqString definition;
    TqString targetPathFile;
};

// Puts the real path of each file in place; fails naming the first that is not there.
Status ResolveRemovalFiles(RemovalFiles& files);

// True when root alone controls the three files: each, and every folder above it, root's and
// writable by no one else (sticky folders may be shared).
bool IsRootsInstallation(const RemovalFiles& files);

// The user who controls the file at realPath besides root: the owner other than root of the file
// or a folder above it, with that user's group; user 0 when root alone does. Fails when no one
// user does (two users, or a group or others may change it), saying which item and why.
Status ControllingUser(const TqString& realPath, uid_t& user, gid_t& group);

#endif
