#ifndef TQ_DRYRUNRIGHTS_H
#define TQ_DRYRUNRIGHTS_H

#include "FileNode.h"
#include "TqString.h"

// For a dry run by a user other than root: the first folder the removal would change (the target
// folder, then the listed directories in it, top down) that belongs to root and that this process
// may not write and search; unset when there is none, or when the process is root. The real
// removal of such an installation runs with administrator rights (the uninstaller asks for them),
// so the dry run says that once, before its list, instead of leaving a reader to work it out from
// a line of "Permission denied" per entry. targetFd is the opened target folder at targetPath.
TqString RootFolderNeedingAdministrator(int targetFd, const TqString& targetPath, const FileNode& root);

#endif
