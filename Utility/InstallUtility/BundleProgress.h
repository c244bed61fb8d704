#ifndef TQ_BUNDLEPROGRESS_H
#define TQ_BUNDLEPROGRESS_H

#include <chrono>
#include <functional>

#include "DiskChanges.h"

// The changes of one bundle's removal, passed on to the real ones and counted, so that a bundle
// that takes long says how far it is: tell is called with the count of what has gone inside it,
// at most once an interval and first an interval after the start (a small bundle says nothing).
class BundleProgress : public DiskChanges
{
public:
    using Tell = std::function<void(unsigned long removedInside)>;

    BundleProgress(DiskChanges& changes, std::chrono::milliseconds interval, Tell tell);

    Status RemoveName(int folderFd, const char* name) override;
    Status RemoveEmptyDirectory(int folderFd, const char* name) override;
    void PrepareToEmpty(int folderFd) override { changes.PrepareToEmpty(folderFd); }
    void WillRemoveNames(int folderFd, const std::vector<const char*>& names) override
    {
        changes.WillRemoveNames(folderFd, names);
    }
    void DoneWithFolder(int folderFd) override { changes.DoneWithFolder(folderFd); }

private:
    Status counted(const Status& status);

    DiskChanges& changes;
    std::chrono::milliseconds interval;
    Tell tell;
    unsigned long removed = 0;
    std::chrono::steady_clock::time_point lastTold;
};

#endif
