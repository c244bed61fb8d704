#ifndef TQ_REMOVALGUARD_H
#define TQ_REMOVALGUARD_H

#include <cstdint>

#include "NodeIdentity.h"
#include "Status.h"
#include "TqString.h"

// The decisions that keep the removal inside the target path. Each answers done when the removal
// may go ahead, else a failure whose message is the reason, so the refusals can be tried without
// a disk.
class RemovalGuard
{
public:
    // targetPath as given (trailing slashes allowed); the identities of the opened target
    // directory and of "/".
    RemovalGuard(const TqString& targetPath, NodeIdentity target, NodeIdentity root);

    // A definition entry names exactly one directory entry: no empty name, no "." or "..",
    // no "/". (The reader ends a name at its first NUL byte, so none holds one.)
    static Status NameRefusal(const TqString& name);

    // Whether the directory at path (identity directory, lying in the directory parent) may be
    // removed with everything in it. Never "/" itself, a directory directly under "/", or the
    // target path, judged both by the path text and by the identities, so that links or mounts
    // in the target path cannot disguise them.
    Status WholeRemovalRefusal(const TqString& path, NodeIdentity directory, NodeIdentity parent) const;

    // Whether a removal may enter the folder: never the target path itself or "/" (whichever
    // mount shows them).
    Status EntryRefusal(NodeIdentity folder) const;
    // The same for a removal that started on mount, which also never enters a folder on another
    // mount (the tree walk's own rule, applied to listed directories).
    Status EntryRefusal(NodeIdentity folder, uint64_t mount) const;

    // Whether an emptied listed directory at path, lying in parent, stays all the same: one
    // directly under "/" (by its path or by parent's identity) is part of the system.
    [[nodiscard]] bool KeepsEmptyDirectory(const TqString& path, NodeIdentity parent) const;

private:
    TqString targetPath;
    NodeIdentity target;
    NodeIdentity root;
};

#endif
