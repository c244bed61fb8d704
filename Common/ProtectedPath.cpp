#include "ProtectedPath.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/magic.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace
{

// As the kernel's own limit on links followed in one lookup.
const int mostLinksFollowed = 40;

// Adds the components of text to the front of names, in order.
void prependComponents(const std::string& text, std::deque<std::string>& names)
{
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = text.find('/', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    names.insert(names.begin(), parts.begin(), parts.end());
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string parentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Why an item with this status cannot be trusted, or empty. Folders may be writable by group or
// others when sticky; anything else not at all. The owner rule is the walk's own.
std::string writeProblem(const std::string& shown, const struct stat& status)
{
    if (S_ISLNK(status.st_mode))
        return std::string();
    const bool othersWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && !(S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0))
        return shown + " is writable by group or others";
    return std::string();
}

// One walk down a path. With a fixed owner, an item of any other non-root uid is a problem; with
// learnsOwner, the first non-root owner met becomes the owner, and another one after it is.
class Walk
{
public:
    Walk(uid_t trusted, bool learning) : owner(trusted), learnsOwner(learning) {}

    uid_t Owner() const { return owner; }
    // The errno value when the problem is that an item could not be looked up, else 0.
    int LookupError() const { return lookupError; }

    // Once the walk succeeded: hands over the item, the folder holding it and their names.
    void TakeItem(ProtectedPath::OpenedPath& opened)
    {
        if (!item.IsOpen())
        {
            // The path was "/" itself, which holds itself.
            item = FileDescriptor(fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0));
            itemName = ".";
            itemShown = "/";
        }
        opened.item = std::move(item);
        opened.folder = std::move(folder);
        opened.name = TqString(itemName.c_str());
        opened.realPath = TqString(itemShown.c_str());
        opened.owner = owner;
    }

    // Why path cannot be trusted, or empty once its item is open: one name at a time from "/".
    std::string problem(const std::string& path)
    {
        if (const std::string why = startAtRoot(path); !why.empty())
            return why;
        while (!names.empty())
        {
            const std::string name = names.front();
            names.pop_front();
            if (name == ".")
                continue;
            if (const std::string why = step(name); !why.empty())
                return why;
        }
        return std::string();
    }

private:
    // Takes the names of path, a relative one from the working folder, and opens "/".
    std::string startAtRoot(const std::string& path)
    {
        std::string start = path;
        if (path.empty() || path[0] != '/')
        {
            char working[PATH_MAX];
            if (getcwd(working, sizeof working) == nullptr)
                return failedLookup(errno, "the working folder cannot be read: ");
            start = std::string(working) + "/" + path;
        }
        prependComponents(start, names);
        if (!enterRoot())
            return failedLookup(errno, "/: ");
        return checked(folder.Get(), "/");
    }

    // Looks name up in the folder reached so far: a link leads on by its text, the last item is
    // kept, a folder is entered.
    std::string step(const std::string& name)
    {
        const std::string shown = name == ".." ? parentOf(shownFolder) : joined(shownFolder, name);
        FileDescriptor next(openat(folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsOpen())
            return failedLookup(errno, shown + ": ");
        struct stat status;
        if (const std::string why = checked(next.Get(), shown, &status); !why.empty())
            return why;
        if (S_ISLNK(status.st_mode))
            return followLink(next.Get(), shown);
        if (names.empty())
        {
            // The last item, kept beside the folder that holds it.
            item = std::move(next);
            itemName = name;
            itemShown = shown;
            return std::string();
        }
        if (!S_ISDIR(status.st_mode))
            return failedLookup(0, shown + " is not a folder", ENOTDIR);
        folder = std::move(next);
        shownFolder = shown;
        return std::string();
    }

    // The link's text goes before the names left, from "/" again when it is absolute.
    std::string followLink(int linkFd, const std::string& shown)
    {
        char target[PATH_MAX + 1];
        const ssize_t size = readlinkat(linkFd, "", target, sizeof target);
        if (size < 0 || static_cast<size_t>(size) == sizeof target)
            return failedLookup(0, shown + ": the link cannot be read", EINVAL);
        if (++linksFollowed > mostLinksFollowed)
            return failedLookup(0, shown + ": too many symbolic links", ELOOP);
        const std::string text(target, static_cast<size_t>(size));
        prependComponents(text, names);
        if (!text.empty() && text[0] == '/' && !enterRoot())
            return failedLookup(errno, "/: ");
        return std::string();
    }

    // The message for an item that could not be looked up: with the system's text for error, or
    // else the cause given.
    std::string failedLookup(int error, const std::string& message, int cause = 0)
    {
        lookupError = error != 0 ? error : cause;
        return error != 0 ? message + strerror(error) : message;
    }

    bool enterRoot()
    {
        folder = FileDescriptor(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        shownFolder = "/";
        return folder.IsOpen();
    }

    // Why the item open at fd cannot be trusted, or empty; its status in status when asked.
    std::string checked(int fd, const std::string& shown, struct stat* status = nullptr)
    {
        struct stat own;
        struct stat& itemStatus = status != nullptr ? *status : own;
        struct statfs fileSystem;
        if (fstat(fd, &itemStatus) != 0 || fstatfs(fd, &fileSystem) != 0)
            return failedLookup(errno, shown + ": ");
        if (fileSystem.f_type == PROC_SUPER_MAGIC)
            return shown + " is on the process file system, whose links stand for what a process holds "
                           "open, not for a path";
        return ownerProblem(shown, itemStatus);
    }

    std::string ownerProblem(const std::string& shown, const struct stat& status)
    {
        const uid_t uid = status.st_uid;
        if (uid != 0 && uid != owner)
        {
            if (!learnsOwner || owner != 0)
                return shown + " is owned by uid " + std::to_string(uid) +
                       (learnsOwner ? ", and " + ownerShown + " by uid " + std::to_string(owner)
                                    : std::string());
            owner = uid;
            ownerShown = shown;
        }
        return writeProblem(shown, status);
    }

    uid_t owner;
    const bool learnsOwner;
    // The first item owned by the learnt owner, named when a second user shows up.
    std::string ownerShown;
    int lookupError = 0;
    // The names still to look up, and how many links led on so far.
    std::deque<std::string> names;
    int linksFollowed = 0;
    FileDescriptor folder;
    std::string shownFolder;
    FileDescriptor item;
    std::string itemName;
    std::string itemShown;
};

} // namespace

Status ProtectedPath::Open(const TqString& path, OpenedPath& opened)
{
    Walk walk(0, true);
    const std::string why = walk.problem(path.ConstData());
    if (!why.empty())
        return Status::Failed(walk.LookupError(), TqString(why.c_str()));
    walk.TakeItem(opened);
    return Status::Done();
}

Status ProtectedPath::OpenRunningProgram(OpenedPath& opened, TqString& shown)
{
    shown = TqString();
    char path[PATH_MAX + 1];
    const FileDescriptor running(open("/proc/self/exe", O_PATH | O_CLOEXEC));
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path);
    struct stat runningStatus, walkedStatus;
    if (!running.IsOpen() || size <= 0 || static_cast<size_t>(size) == sizeof path ||
        fstat(running.Get(), &runningStatus) != 0)
        return Status::Failed(errno != 0 ? errno : ENOENT, "cannot find the running program");
    shown = TqString(path, static_cast<unsigned long>(size));
    const Status walked = Open(shown, opened);
    if (!walked.IsDone())
        return walked;
    if (fstat(opened.item.Get(), &walkedStatus) != 0 || walkedStatus.st_dev != runningStatus.st_dev ||
        walkedStatus.st_ino != runningStatus.st_ino)
        return Status::Failed(ESTALE, shown + " is no longer the program that is running");
    return Status::Done();
}

Result<uid_t> ProtectedPath::Controller(const TqString& path)
{
    OpenedPath opened;
    const Status status = Open(path, opened);
    if (!status.IsDone())
        return status;
    return opened.owner;
}

Status ProtectedPath::Check(const TqString& path, uid_t owner)
{
    Walk walk(owner, false);
    const std::string why = walk.problem(path.ConstData());
    return why.empty() ? Status::Done() : Status::Failed(0, TqString(why.c_str()));
}

Result<FileDescriptor> ProtectedPath::OpenForReading(const OpenedPath& opened)
{
    struct stat judged, found;
    if (fstat(opened.item.Get(), &judged) != 0)
        return Status::FromErrno(opened.realPath);
    if (!S_ISREG(judged.st_mode))
        return Status::Failed(EINVAL, opened.realPath + " is not a regular file");
    FileDescriptor file(
        openat(opened.folder.Get(), opened.name.ConstData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.IsOpen() || fstat(file.Get(), &found) != 0)
        return Status::FromErrno(opened.realPath);
    if (found.st_dev != judged.st_dev || found.st_ino != judged.st_ino)
        return Status::Failed(ESTALE, opened.realPath + " was replaced while it was being checked");
    return file;
}

Result<uid_t> ProtectedPath::JointController(const std::vector<const OpenedPath*>& items)
{
    const OpenedPath* first = nullptr;
    for (const OpenedPath* opened : items)
    {
        if (opened->owner == 0)
            continue;
        if (first != nullptr && opened->owner != first->owner)
            return Status::Failed(0, opened->realPath + " is controlled by uid " +
                                         TqString(std::to_string(opened->owner).c_str()) + ", and " +
                                         first->realPath + " by uid " +
                                         TqString(std::to_string(first->owner).c_str()));
        first = opened;
    }
    return first != nullptr ? first->owner : 0;
}
