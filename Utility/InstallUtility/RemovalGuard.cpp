#include "RemovalGuard.h"

#include "PathText.h"
#include "TreeRemoval.h"

#include <cstring>

RemovalGuard::RemovalGuard(const TqString& givenTarget, NodeIdentity targetIdentity,
                           NodeIdentity rootIdentity)
    : targetPath(PathText::Normalized(givenTarget)), target(targetIdentity), root(rootIdentity)
{
}

Status RemovalGuard::NameRefusal(const TqString& name)
{
    if (name.IsEmpty())
        return Status::Failed(0, "empty name");
    // Asked of every entry: compared in place, without a string made for "." and "..".
    const char* text = name.ConstData();
    if (text[0] == '.' && (name.Size() == 1 || (name.Size() == 2 && text[1] == '.')))
        return Status::Failed(0, "names a directory itself, not an entry");
    if (std::memchr(name.ConstData(), '/', name.Size()) != nullptr)
        return Status::Failed(0, "holds a path separator");
    return Status::Done();
}

// Counts the names between separators; "." and ".." count as names, which is harmless here
// because the identity checks catch what they point at.
static unsigned long componentCount(const TqString& normalizedPath)
{
    unsigned long count = 0;
    for (unsigned long i = 0; i < normalizedPath.Size(); ++i)
        if (normalizedPath[i] != '/' && (i == 0 || normalizedPath[i - 1] == '/'))
            ++count;
    return count;
}

Status RemovalGuard::WholeRemovalRefusal(const TqString& path, NodeIdentity directory,
                                         NodeIdentity parent) const
{
    const TqString normalized = PathText::Normalized(path);
    if (normalized.IsEmpty() || normalized[0] != '/')
        return Status::Failed(0, "not an absolute path");
    if (componentCount(normalized) <= 1 || directory == root || parent == root)
        return Status::Failed(0, "a directory directly under / is never removed whole");
    if (normalized == targetPath || directory == target)
        return Status::Failed(0, "the target path itself is never removed whole");
    return Status::Done();
}

Status RemovalGuard::EntryRefusal(NodeIdentity folder) const
{
    if (folder == target)
        return Status::Failed(0, "the target path itself, not entered");
    if (folder == root)
        return Status::Failed(0, "the root folder /, not entered");
    return Status::Done();
}

Status RemovalGuard::EntryRefusal(NodeIdentity folder, uint64_t mount) const
{
    if (const Status refusal = EntryRefusal(folder); !refusal.IsDone())
        return refusal;
    return TreeRemoval::MountRefusal(folder, mount);
}

bool RemovalGuard::KeepsEmptyDirectory(const TqString& path, NodeIdentity parent) const
{
    return componentCount(PathText::Normalized(path)) <= 1 || parent == root;
}
