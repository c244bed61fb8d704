#include "WholeRemoval.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

class ContentsRemover
{
public:
    ContentsRemover(const RemovalGuard& guard, uint64_t mount, bool dryRun)
        : guard(guard), mount(mount), dryRun(dryRun)
    {
    }

    // where is the relative path of the directory, with a trailing "/" unless it is the top.
    void removeContents(int directoryFd, const std::string& where, unsigned depth)
    {
        const int listFd = fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
        DIR* listing = listFd < 0 ? nullptr : fdopendir(listFd);
        if (listing == nullptr)
        {
            if (listFd >= 0)
                close(listFd);
            fail(where, ".", strerror(errno));
            return;
        }
        while (const dirent* entry = readdir(listing))
        {
            const char* name = entry->d_name;
            if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
                continue;
            bool isDirectory = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN)
            {
                struct stat status;
                isDirectory =
                    fstatat(directoryFd, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
            }
            if (isDirectory)
                removeDirectory(directoryFd, name, where, depth + 1);
            else if (!dryRun && unlinkat(directoryFd, name, 0) != 0 && errno != ENOENT)
                fail(where, name, strerror(errno));
        }
        closedir(listing);
    }

    std::string firstFailure;

private:
    void removeDirectory(int parentFd, const char* name, const std::string& where, unsigned depth)
    {
        // Each level holds a descriptor and a stack frame; no real bundle comes near this.
        if (depth > WholeRemoval::maxDepth)
        {
            fail(where, name, "nested too deeply");
            return;
        }
        // O_NOFOLLOW: if the entry was swapped for a link since it was listed, this fails
        // instead of entering wherever the link points.
        const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
        {
            if (errno != ENOENT)
                fail(where, name, strerror(errno));
            return;
        }
        NodeIdentity identity;
        const char* refusal =
            IdentifyNode(fd, "", identity) ? guard.EntryRefusal(identity, mount) : strerror(errno);
        if (refusal != nullptr)
        {
            fail(where, name, refusal);
            close(fd);
            return;
        }
        removeContents(fd, where + name + "/", depth);
        close(fd);
        if (!dryRun && unlinkat(parentFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT)
            fail(where, name, strerror(errno));
    }

    void fail(const std::string& where, const char* name, const char* reason)
    {
        if (firstFailure.empty())
            firstFailure = where + name + ": " + reason;
    }

    const RemovalGuard& guard;
    uint64_t mount;
    bool dryRun;
};

} // namespace

TqString WholeRemoval::RemoveContents(int directoryFd, bool dryRun, const RemovalGuard& guard)
{
    NodeIdentity identity;
    if (!IdentifyNode(directoryFd, "", identity))
        return TqString(strerror(errno));
    ContentsRemover remover(guard, identity.mount, dryRun);
    remover.removeContents(directoryFd, "", 0);
    return TqString(remover.firstFailure.data(), remover.firstFailure.size());
}
