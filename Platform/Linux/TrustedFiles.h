#ifndef TQ_TRUSTEDFILES_H
#define TQ_TRUSTEDFILES_H

#include <sys/types.h>

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

// Settles what the second phase hands to root. As root (effectiveUser 0), the copy's own files in
// files, by real path, when they and their folders are safe for root; false when they are not.
// Otherwise the installed bundle's files (Contents/MacOS in it), by real path, when root alone owns
// them and their folders and no one else may write any of them; else files stay as they are.
[[nodiscard]] bool ChooseRemovalFiles(uid_t effectiveUser, const TqString& installedBundlePath, RemovalFiles& files);

#endif
