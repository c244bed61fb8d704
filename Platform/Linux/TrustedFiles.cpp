#include "TrustedFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
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
        !ProtectedPath::Check(real, user).IsDone())
        return TqString();
    return real;
}

Status ResolveRemovalFiles(RemovalFiles& files)
{
    TqString* paths[] = {&files.tool, &files.definition, &files.targetPathFile};
    for (TqString* path : paths)
    {
        char resolved[PATH_MAX];
        if (path->IsEmpty() || realpath(path->ConstData(), resolved) == nullptr)
            return Status::Failed(path->IsEmpty() ? ENOENT : errno, *path);
        *path = resolved;
    }
    return Status::Done();
}

bool IsRootsInstallation(const RemovalFiles& files)
{
    return RealPathIfSafe(files.tool, 0).IsSet() && RealPathIfSafe(files.definition, 0).IsSet() &&
           RealPathIfSafe(files.targetPathFile, 0).IsSet();
}

Status ControllingUser(const TqString& realPath, uid_t& user, gid_t& group)
{
    // The one owner other than root of the file and the folders above it.
    bool found = false;
    struct stat status;
    for (unsigned long index = 0; index <= realPath.Size() && !found; ++index)
    {
        // "/", then each folder on the way, then the file itself.
        if (index < realPath.Size() && realPath[index] != '/')
            continue;
        const TqString prefix = index == 0 ? TqString("/") : realPath.Substr(0, index);
        if (lstat(prefix.ConstData(), &status) != 0)
            return Status::Failed(errno, prefix);
        if (status.st_uid != 0)
        {
            user = status.st_uid;
            group = status.st_gid;
            found = true;
        }
    }
    if (!found)
        user = 0;
    if (const Status problem = ProtectedPath::Check(realPath, user); !problem.IsDone())
        return Status::Failed(0, problem.Message());
    if (found)
    {
        const struct passwd* account = getpwuid(user);
        if (account != nullptr)
            group = account->pw_gid;
    }
    return Status::Done();
}
