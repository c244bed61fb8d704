#ifndef TQ_PROTECTEDPATH_H
#define TQ_PROTECTEDPATH_H

#include <sys/types.h>

#include "Status.h"
#include "TqString.h"

// Who controls what a path names. A file that a program reads and acts on is only as safe as the
// folders leading to it, since whoever can write one of them can put another file in its place.
//
// The walk goes from / down to the path by descriptors, one name at a time, and looks at every
// folder on the way, every symbolic link met (in a sticky folder its owner may replace it; its
// target is then walked the same way) and the last item. Items writable by group or others are
// controlled by no one in particular and refused, with one exception: a sticky folder (such as
// /tmp) may be writable by group or others, wherever it lies on the path, the last item included,
// because there nobody may replace an entry that someone else owns.
namespace ProtectedPath
{

// The one user who controls path (made absolute against the working folder) besides root: owner
// is 0 when root alone owns every item, or the single non-root uid that owns some of them.
// Failed with a one-line message naming the item when two different non-root users own items, an
// item is writable by group or others (sticky folders aside), or the walk cannot be done; only in
// that last case (an item missing, not a folder, unreadable) does the status carry an errno value.
[[nodiscard]] Status Controller(const TqString& path, uid_t& owner);

// The same walk with the trusted user given: done when every item belongs to root or to owner
// (0 trusts root alone) and the writing rule holds, else failed with "PATH is/has ..." naming the
// first item that does not, or why it could not be checked.
[[nodiscard]] Status Check(const TqString& path, uid_t owner);

} // namespace ProtectedPath

#endif
