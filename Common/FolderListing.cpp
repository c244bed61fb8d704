#include "FolderListing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "FileDescriptor.h"

FolderListing::FolderListing(int folderFd)
{
    FileDescriptor listFd(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    listing = listFd.IsOpen() ? fdopendir(listFd.Get()) : nullptr;
    if (listing == nullptr)
        error = Status::FromErrno("cannot list the folder");
    else
    {
        (void)listFd.Release(); // the stream closes it now
        // An earlier listing through the folder's descriptor left their shared position at its end.
        rewinddir(listing);
    }
}

FolderListing::~FolderListing()
{
    if (listing != nullptr)
        closedir(listing);
}

const dirent* FolderListing::Next()
{
    if (listing == nullptr)
        return nullptr;
    while (const dirent* entry = readdir(listing))
    {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            return entry;
    }
    return nullptr;
}
