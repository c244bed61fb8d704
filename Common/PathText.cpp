#include "PathText.h"

#include <cstring>
#include <string>
#include <vector>

namespace PathText
{

TqString Join(const TqString& path, const TqString& component)
{
    const char* pathText = path.ConstData();
    const char* componentText = component.ConstData();
    unsigned long end = path.Size();
    while (end > 0 && pathText[end - 1] == '/')
        --end;
    unsigned long start = 0;
    while (start < component.Size() && componentText[start] == '/')
        ++start;
    // Built in one piece and copied once: the removal tool joins a path for every entry it handles.
    const unsigned long length = end + 1 + component.Size() - start;
    char small[256];
    std::string large;
    char* joined = small;
    if (length > sizeof small)
    {
        large.resize(length);
        joined = &large[0];
    }
    std::memcpy(joined, pathText, end);
    joined[end] = '/';
    std::memcpy(joined + end + 1, componentText + start, component.Size() - start);
    return TqString(joined, length);
}

TqString Parent(const TqString& path)
{
    const unsigned long slash = path.IndexLastOf("/");
    if (!path.HasOf(slash))
        return TqString();
    return slash == 0 ? TqString("/") : path.Substr(0, slash);
}

TqString Normalized(const TqString& path)
{
    TqString folded;
    unsigned long runStart = 0;
    for (unsigned long index = 0; index < path.Size(); ++index)
    {
        // Each run of slashes keeps its first one: copy up to it, skip the rest.
        if (path[index] == '/' && index > 0 && path[index - 1] == '/')
        {
            folded += path.Substr(runStart, index - runStart);
            while (index < path.Size() && path[index] == '/')
                ++index;
            runStart = index;
        }
    }
    folded += path.Substr(runStart, TqString::maxLen);
    unsigned long end = folded.Size();
    while (end > 1 && folded[end - 1] == '/')
        --end;
    return end == folded.Size() ? folded : folded.Substr(0, end);
}

TqString Resolved(const TqString& path)
{
    std::vector<TqString> names;
    unsigned long start = 0;
    while (start <= path.Size())
    {
        unsigned long slash = path.IndexOf("/", start);
        if (!path.HasOf(slash))
            slash = path.Size();
        const TqString name = path.Substr(start, slash - start);
        if (name == TqString(".."))
        {
            if (!names.empty())
                names.pop_back();
        }
        else if (name.IsSet() && !(name == TqString(".")))
            names.push_back(name);
        start = slash + 1;
    }
    TqString resolved;
    for (const TqString& name : names)
        resolved = Join(resolved, name);
    return resolved.IsSet() ? resolved : TqString("/");
}

} // namespace PathText
