#include "BundleProgress.h"

namespace
{

// The clock is read once per this many items, so that counting costs nothing next to unlinking.
const unsigned long kItemsPerClockRead = 64;

} // namespace

BundleProgress::BundleProgress(DiskChanges& counted, std::chrono::milliseconds tellInterval, Tell teller)
    : changes(counted), interval(tellInterval), tell(std::move(teller)),
      lastTold(std::chrono::steady_clock::now())
{
}

Status BundleProgress::RemoveName(int folderFd, const char* name)
{
    return counted(changes.RemoveName(folderFd, name));
}

Status BundleProgress::RemoveEmptyDirectory(int folderFd, const char* name)
{
    return counted(changes.RemoveEmptyDirectory(folderFd, name));
}

Status BundleProgress::counted(const Status& status)
{
    if (!status.IsDone() || ++removed % kItemsPerClockRead != 0)
        return status;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastTold >= interval)
    {
        lastTold = now;
        tell(removed);
    }
    return status;
}
