#ifndef TQ_REMOVALGUARD_H
#define TQ_REMOVALGUARD_H

#include <sys/types.h>

#include "TqString.h"

// Where a node lives on disk: its file system and its inode there.
struct NodeIdentity
{
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const NodeIdentity& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// The decisions that keep the removal inside the target path. Each answers with the reason for
// refusing, or null when the removal may go ahead, so the refusals can be tried without a disk.
class RemovalGuard
{
public:
    // targetPath as given (trailing slashes allowed); the identities of the opened target
    // directory and of "/".
    RemovalGuard(const TqString& targetPath, NodeIdentity target, NodeIdentity root);

    // A definition entry names exactly one directory entry: no empty name, no "." or "..",
    // no "/" and no NUL byte.
    static const char* NameRefusal(const TqString& name);

    // Whether the directory at path (identity directory, lying in the directory parent) may be
    // removed with everything in it. Never "/" itself, a directory directly under "/", or the
    // target path, judged both by the path text and by the identities, so that links or mounts
    // in the target path cannot disguise them.
    const char* WholeRemovalRefusal(const TqString& path, NodeIdentity directory, NodeIdentity parent) const;

    // The path with runs of "/" folded into one and trailing ones dropped ("/" stays "/").
    static TqString NormalizedPath(const TqString& path);

private:
    TqString targetPath;
    NodeIdentity target;
    NodeIdentity root;
};

#endif
