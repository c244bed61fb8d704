#ifndef TQ_PROTECTEDPATH_H
#define TQ_PROTECTEDPATH_H

#include <sys/types.h>
#include <vector>

#include "FileDescriptor.h"
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
//
// The verdict is about what the walk opened, and callers go on through those descriptors, never
// through the name again. Nothing on the process file system is walked: its links (/proc/self/fd/N,
// /dev/stdin) stand for what some process holds open, possibly in another mount namespace, so their
// text says nothing about the file they lead to.
namespace ProtectedPath
{

// An item as the walk opened it.
struct OpenedPath
{
    // The item itself (never a link), opened O_PATH, and the folder that holds it, with its name there.
    FileDescriptor item;
    FileDescriptor folder;
    TqString name;
    // The path the walk took, every link resolved: the item's real path.
    TqString realPath;
    // 0 when root alone controls the item, else the one other user who does.
    uid_t owner = 0;
};

// Walks to path (made absolute against the working folder) and keeps what it opened. Failed as
// Controller fails.
Result<OpenedPath> Open(const TqString& path);

// The program this process runs, walked from the path the kernel gives for it (put in shown; unset
// when there is none) and checked to be that very program. Failed as Open fails; with ESTALE
// ("SHOWN is no longer the program that is running") when the path now leads elsewhere.
[[nodiscard]] Status OpenRunningProgram(OpenedPath& opened, TqString& shown);

// Opens the walked item for reading, with this process's rights at the time of the call, relative
// to the folder the walk judged, without blocking and without becoming a terminal's reader. Failed
// when it is not a regular file, cannot be opened, or is no longer the item the walk judged.
Result<FileDescriptor> OpenForReading(const OpenedPath& opened);

// The one user besides root who controls all of items together: 0 when root alone does. Failed with
// "A is controlled by uid X, and B by uid Y" when two users do.
Result<uid_t> JointController(const std::vector<const OpenedPath*>& items);

// The one user who controls path (made absolute against the working folder) besides root: 0 when
// root alone owns every item, or the single non-root uid that owns some of them.
// Failed with a one-line message naming the item when two different non-root users own items, an
// item is writable by group or others (sticky folders aside), or the walk cannot be done; only in
// that last case (an item missing, not a folder, unreadable) does the status carry an errno value.
Result<uid_t> Controller(const TqString& path);

// The same walk with the trusted user given: done when every item belongs to root or to owner
// (0 trusts root alone) and the writing rule holds, else failed with "PATH is/has ..." naming the
// first item that does not, or why it could not be checked.
[[nodiscard]] Status Check(const TqString& path, uid_t owner);

} // namespace ProtectedPath

#endif
