#include "DiskChanges.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int RealDiskChanges::RemoveName(int folderFd, const char* name)
{
    return unlinkat(folderFd, name, 0) == 0 ? 0 : errno;
}

int RealDiskChanges::RemoveEmptyDirectory(int folderFd, const char* name)
{
    return unlinkat(folderFd, name, AT_REMOVEDIR) == 0 ? 0 : errno;
}
