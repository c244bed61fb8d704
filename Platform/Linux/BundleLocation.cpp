#include "BundleLocation.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The part of path before its last "/" ("/" itself for a top-level entry).
TqString ParentOf(const TqString& path)
{
    unsigned long slash = path.IndexLastOf("/");
    if (!path.HasOf(slash))
        return TqString();
    return slash == 0 ? TqString("/") : path.Substr(0, slash);
}

} // namespace

TqString ExecutableFolder()
{
    char target[PATH_MAX];
    ssize_t size = readlink("/proc/self/exe", target, sizeof target - 1);
    if (size <= 0)
        return TqString();
    return ParentOf(TqString(target, static_cast<unsigned long>(size)));
}

TqString AuxiliaryPath(const TqString& executableFolder, const TqString& name)
{
    if (executableFolder.IsEmpty() || name.IsEmpty() || name.IndexOf("/", 0) != TqString::maxLen)
        return TqString();
    TqString path = executableFolder;
    if (!path.EndsWith("/"))
        path += "/";
    path += name;
    struct stat status;
    if (stat(path.ConstData(), &status) != 0)
        return TqString();
    return path;
}

TqString BundlePathOf(const TqString& executableFolder)
{
    TqString folder = executableFolder;
    while (folder.Size() > 1 && folder.EndsWith("/"))
        folder = folder.Substr(0, folder.Size() - 1);
    if (folder.EndsWith("/Contents/MacOS"))
    {
        TqString bundle = ParentOf(ParentOf(folder));
        if (bundle.IsSet())
            return bundle;
    }
    return folder;
}
