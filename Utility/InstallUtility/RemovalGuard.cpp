#include "RemovalGuard.h"

#include "PathText.h"

RemovalGuard::RemovalGuard(const TqString& targetPath, NodeIdentity target, NodeIdentity root)
    : targetPath(PathText::Normalized(targetPath)), target(target), root(root)
{
}

const char* RemovalGuard::NameRefusal(const TqString& name)
{
    if (name.IsEmpty())
        return "empty name";
    if (name == TqString(".") || name == TqString(".."))
        return "names a directory itself, not an entry";
    for (unsigned long i = 0; i < name.Size(); ++i)
    {
        if (name[i] == '/')
            return "holds a path separator";
    }
    return nullptr;
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

const char* RemovalGuard::WholeRemovalRefusal(const TqString& path, NodeIdentity directory,
                                              NodeIdentity parent) const
{
    const TqString normalized = PathText::Normalized(path);
    if (normalized.IsEmpty() || normalized[0] != '/')
        return "not an absolute path";
    if (componentCount(normalized) <= 1 || directory == root || parent == root)
        return "a directory directly under / is never removed whole";
    if (normalized == targetPath || directory == target)
        return "the target path itself is never removed whole";
    return nullptr;
}

const char* RemovalGuard::EntryRefusal(NodeIdentity folder, uint64_t mount) const
{
    if (folder == target)
        return "the target path itself, not entered";
    if (folder == root)
        return "the root folder /, not entered";
    if (folder.mount != mount)
        return "on another mount, not entered";
    return nullptr;
}

bool RemovalGuard::KeepsEmptyDirectory(const TqString& path, NodeIdentity parent) const
{
    return componentCount(PathText::Normalized(path)) <= 1 || parent == root;
}
