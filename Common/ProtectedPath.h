#ifndef TQ_PROTECTEDPATH_H
#define TQ_PROTECTEDPATH_H

#include <sys/types.h>

#include "TqString.h"

// Whether what a path names can be changed only by the people a privileged program trusts: root,
// and optionally one more user. A file that root reads and acts on is only as safe as the folders
// leading to it, since whoever can write one of them can put another file in its place.
namespace ProtectedPath
{

// Checks path (made absolute against the working folder), every folder from / down to it and
// every symbolic link on the way: each must belong to root or to owner, no folder may be writable
// by group or others unless it is sticky (so entries of trusted owners stay as they are), and the
// last item may not be writable by group or others at all. Links are followed, checking the link
// itself (in a sticky folder its owner may replace it) and then the path it names. Pass owner 0
// to trust root alone. Returns the unset string when the path is protected, else
// "PATH is/has ..." naming the first item that is not, or why it could not be checked.
[[nodiscard]] TqString Problem(const TqString& path, uid_t owner);

} // namespace ProtectedPath

#endif
