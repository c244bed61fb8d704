#ifndef TQ_FILESERVICES_H
#define TQ_FILESERVICES_H

#include "TqString.h"

// The file services the uninstaller uses to make its temporary copy.

// The value of TMPDIR when it names a directory, else "/tmp".
TqString UserTemporaryDirectory(const char* tmpdirValue);

// 32 hexadecimal digits from the system's random source, a "-" and the process id.
TqString UniqueRunString();

// Creates one directory with mode 0700; false when the path exists or cannot be made.
bool CreatePrivateDirectory(const TqString& path);

// Copies a file, link or directory tree to a path that must not exist. Symbolic links are copied
// as links, permission bits are kept; other file types, and a folder copied into itself, make
// the copy fail.
bool CopyTree(const TqString& from, const TqString& to);

#endif
