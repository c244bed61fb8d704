#include "TrustedFiles.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace
{

bool IsSafeEntry(const struct stat& status, uid_t user, bool last)
{
    if (status.st_uid != 0 && status.st_uid != user)
        return false;
    const bool othersMayWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    // In a sticky folder only an entry's owner (or the folder's) may rename or remove it.
    if (S_ISDIR(status.st_mode))
        return !othersMayWrite || (status.st_mode & S_ISVTX) != 0;
    return last && S_ISREG(status.st_mode) && !othersMayWrite;
}

} // namespace

TqString RealPathIfSafe(const TqString& path, uid_t user)
{
    char resolved[PATH_MAX];
    if (path.IsEmpty() || realpath(path.ConstData(), resolved) == nullptr)
        return TqString();
    TqString real(resolved);
    // "/" first, then every longer prefix; a link met here was put in after realpath: not safe.
    unsigned long end = 0;
    for (;;)
    {
        const TqString prefix = end == 0 ? TqString("/") : real.Substr(0, end);
        const bool last = end >= real.Size() || real == TqString("/");
        struct stat status;
        if (lstat(prefix.ConstData(), &status) != 0 || !IsSafeEntry(status, user, last))
            return TqString();
        if (last)
            break;
        const unsigned long slash = real.IndexOf("/", end + 1);
        end = real.HasOf(slash) ? slash : real.Size();
    }
    return real;
}

bool ChooseRemovalFiles(uid_t effectiveUser, const TqString& installedBundlePath, RemovalFiles& files)
{
    if (effectiveUser == 0)
    {
        RemovalFiles real{RealPathIfSafe(files.tool, 0), RealPathIfSafe(files.definition, 0),
                          RealPathIfSafe(files.targetPathFile, 0)};
        if (real.tool.IsEmpty() || real.definition.IsEmpty() || real.targetPathFile.IsEmpty())
            return false;
        files = real;
        return true;
    }
    if (installedBundlePath.IsEmpty() || installedBundlePath[0] != '/')
        return true;
    // Owned by root alone: a user who may change these files could also change what root runs.
    const TqString folder = installedBundlePath + "/Contents/MacOS/";
    RemovalFiles installed{RealPathIfSafe(folder + "InstallUtility", 0),
                           RealPathIfSafe(folder + "sku.xml", 0),
                           RealPathIfSafe(folder + "target_path.xml", 0)};
    if (installed.tool.IsSet() && installed.definition.IsSet() && installed.targetPathFile.IsSet())
        files = installed;
    return true;
}
