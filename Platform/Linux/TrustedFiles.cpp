#include "TrustedFiles.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include "ProtectedPath.h"

TqString RealPathIfSafe(const TqString& path, uid_t user)
{
    char resolved[PATH_MAX];
    if (path.IsEmpty() || realpath(path.ConstData(), resolved) == nullptr)
        return TqString();
    TqString real(resolved);
    struct stat status;
    if (lstat(resolved, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) ||
        ProtectedPath::Problem(real, user).IsSet())
        return TqString();
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
