#include "DiskChanges.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

Status RealDiskChanges::RemoveName(int folderFd, const char* name)
{
    return unlinkat(folderFd, name, 0) == 0 ? Status::Done() : Status::FromErrno(name);
}

Status RealDiskChanges::RemoveEmptyDirectory(int folderFd, const char* name)
{
    return unlinkat(folderFd, name, AT_REMOVEDIR) == 0 ? Status::Done() : Status::FromErrno(name);
}
