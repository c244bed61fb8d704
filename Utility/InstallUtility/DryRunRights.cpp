#include "DryRunRights.h"

#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "PathText.h"
#include "RemovalGuard.h"

namespace
{

// Whether the open folder is root's and closed to this process's changes.
bool rootsAndClosed(int folderFd)
{
    struct stat status;
    return fstat(folderFd, &status) == 0 && status.st_uid == 0 &&
           faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0;
}

} // namespace

TqString RootFolderNeedingAdministrator(int targetFd, const TqString& targetPath, const FileNode& root)
{
    if (geteuid() == 0)
        return TqString();
    if (rootsAndClosed(targetFd))
        return targetPath;
    // The listed directories that are there, top down, one open folder per level on a stack of
    // the walk's own, so that a deep definition costs memory, not call stack; links are not followed.
    struct Level
    {
        FileDescriptor fd;
        TqString path;
        std::map<TqString, FileNode>::const_iterator next, end;
    };
    std::vector<Level> levels;
    levels.push_back(Level{FileDescriptor(fcntl(targetFd, F_DUPFD_CLOEXEC, 0)), targetPath,
                           root.children.begin(), root.children.end()});
    while (!levels.empty())
    {
        Level& level = levels.back();
        if (level.next == level.end)
        {
            levels.pop_back();
            continue;
        }
        const FileNode& entry = (level.next++)->second;
        if (!entry.isDirectory || !RemovalGuard::NameRefusal(entry.name).IsDone())
            continue;
        FileDescriptor fd(
            openat(level.fd.Get(), entry.name.ConstData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.IsOpen())
            continue;
        TqString path = PathText::Join(level.path, entry.name);
        if (rootsAndClosed(fd.Get()))
            return path;
        levels.push_back(Level{std::move(fd), std::move(path), entry.children.begin(), entry.children.end()});
    }
    return TqString();
}
