#include "FolderListing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

FolderListing::FolderListing(int folderFd)
{
    const int listFd = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    listing = listFd < 0 ? nullptr : fdopendir(listFd);
    if (listing == nullptr)
    {
        error = errno;
        if (listFd >= 0)
            close(listFd);
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
