#ifndef TQ_PATHLIBRARY_H
#define TQ_PATHLIBRARY_H

#include "TqString.h"

// Pure text operations on "/"-separated paths. None of them looks at the file system, and none
// fails: a path lacking what an operation looks for comes back unchanged or empty.
namespace PathLibrary
{

// The bytes after the last "/"; the whole path when it has no "/" or ends in one.
TqString GetFileNameFromPath(const TqString& path);
// The directory and the file name, with one "/" between them unless the directory ends in one.
TqString GetDirectoryWithFile(const TqString& directory, const TqString& file);
// The bytes up to and including the last "/", or empty.
TqString GetDirectoryWithoutFile(const TqString& path);
// The path with "/../" steps removed together with the segment before each, from the left,
// stopping at the first step that has no segment before it.
TqString CollapsePath(const TqString& path);
// The path without one trailing "/".
TqString GetDirectoryPathWithoutLastSlash(const TqString& path);
// The directory holding the path's last entry, without a trailing "/" (empty under the root).
TqString GetParentDir(const TqString& path);
// The bytes before the first "." anywhere in the path.
TqString RemoveExtension(const TqString& path);
// The bytes after the last "." anywhere in the path, or empty.
TqString GetExtension(const TqString& path);

} // namespace PathLibrary

#endif
