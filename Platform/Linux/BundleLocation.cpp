#include "BundleLocation.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "PathText.h"
#include "PlatformNames.h"

TqString ExecutablePath()
{
    char target[PATH_MAX];
    ssize_t size = readlink("/proc/self/exe", target, sizeof target - 1);
    if (size <= 0)
        return TqString();
    return TqString(target, static_cast<unsigned long>(size));
}

TqString ExecutableFolder()
{
    const TqString path = ExecutablePath();
    return path.IsSet() ? PathText::Parent(path) : TqString();
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
    TqString folder = PathText::Normalized(executableFolder);
    if (folder.EndsWith(TqString("/") + PlatformNames::kExecutableFolder))
    {
        TqString bundle = PathText::Parent(PathText::Parent(folder));
        if (bundle.IsSet())
            return bundle;
    }
    return folder;
}
