#ifndef TQ_FOLDERLISTING_H
#define TQ_FOLDERLISTING_H

#include <dirent.h>

#include "Status.h"

// The names in an open folder, from the first, read through a descriptor of the listing's own, so
// that the folder's descriptor stays open for the caller. The two share a position in the folder,
// so one folder is listed by one thread at a time.
class FolderListing
{
public:
    explicit FolderListing(int folderFd);
    ~FolderListing();
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // Done when the folder could be listed, else why not.
    const Status& Error() const { return error; }

    // The next entry but "." and "..", or null at the end; it stays valid until the next call.
    const dirent* Next();

private:
    DIR* listing = nullptr;
    Status error;
};

#endif
