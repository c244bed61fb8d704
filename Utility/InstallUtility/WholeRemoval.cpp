#include "WholeRemoval.h"

#include "TreeRemoval.h"

namespace
{

// The walk keeps off other mounts itself; the guard adds the target path and "/".
class GuardedEntry : public TreeRemoval::EntryCheck
{
public:
    explicit GuardedEntry(const RemovalGuard& removalGuard) : guard(removalGuard) {}
    Status EntryRefusal(const NodeIdentity& folder) const override
    {
        return guard.EntryRefusal(folder);
    }

private:
    const RemovalGuard& guard;
};

} // namespace

Status WholeRemoval::RemoveContents(int directoryFd, DiskChanges& changes, const RemovalGuard& guard)
{
    const GuardedEntry check(guard);
    return TreeRemoval::RemoveContents(directoryFd, changes, &check);
}
