#include "PathLibrary.h"

namespace
{

// Plain byte arrays (not TqString globals), so the operations also work during static initialisation.
const char slash[] = "/";
const char dot[] = ".";
const char parentStep[] = "/../";
const unsigned long parentStepSize = sizeof(parentStep) - 1;

bool EndsWithSlash(const TqString& path)
{
    const unsigned long last = path.IndexLastOf(TqString(slash));
    return path.HasOf(last) && last == path.Size() - 1;
}

} // namespace

namespace PathLibrary
{

TqString GetFileNameFromPath(const TqString& path)
{
    const unsigned long last = path.IndexLastOf(TqString(slash));
    if (path.HasOf(last) && last != path.Size() - 1)
        return path.Substr(last + 1, TqString::maxLen);
    return path;
}

TqString GetDirectoryWithFile(const TqString& directory, const TqString& file)
{
    if (EndsWithSlash(directory))
        return directory + file;
    return directory + slash + file;
}

TqString GetDirectoryWithoutFile(const TqString& path)
{
    const unsigned long last = path.IndexLastOf(TqString(slash));
    if (path.HasOf(last))
        return path.Substr(0, last + 1);
    return TqString();
}

TqString CollapsePath(const TqString& path)
{
    TqString current(path);
    for (;;)
    {
        const unsigned long step = current.IndexOf(TqString(parentStep), 0);
        if (!current.HasOf(step) || step == 0)
            break;
        const unsigned long segmentStart = current.Substr(0, step).IndexLastOf(TqString(slash));
        if (!current.HasOf(segmentStart))
            break;
        // Keep the slash before the removed segment; drop the segment and "../".
        current =
            current.Substr(0, segmentStart + 1) + current.Substr(step + parentStepSize, TqString::maxLen);
    }
    return current;
}

TqString GetDirectoryPathWithoutLastSlash(const TqString& path)
{
    if (EndsWithSlash(path))
        return path.Substr(0, path.Size() - 1);
    return path;
}

TqString GetParentDir(const TqString& path)
{
    return GetDirectoryPathWithoutLastSlash(GetDirectoryWithoutFile(GetDirectoryPathWithoutLastSlash(path)));
}

TqString RemoveExtension(const TqString& path)
{
    const unsigned long first = path.IndexOf(TqString(dot), 0);
    if (path.HasOf(first))
        return path.Substr(0, first);
    return path;
}

TqString GetExtension(const TqString& path)
{
    const unsigned long last = path.IndexLastOf(TqString(dot));
    if (path.HasOf(last))
        return path.Substr(last + 1, TqString::maxLen);
    return TqString();
}

} // namespace PathLibrary
