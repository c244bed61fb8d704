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

    // Done once the item of path is open, one name at a time from "/"; else why path cannot be
    // trusted, with an errno value only when an item could not be looked up.
    Status Run(const std::string& path)
    {
        if (const Status started = startAtRoot(path); !started.IsDone())
            return started;
        while (!names.empty())
        {
            const std::string name = names.front();
            names.pop_front();
            if (name == ".")
                continue;
            if (const Status stepped = step(name); !stepped.IsDone())
                return stepped;
        }
        return Status::Done();
    }

private:
    // Takes the names of path, a relative one from the working folder, and opens "/".
    Status startAtRoot(const std::string& path)
    {
        std::string start = path;
        if (path.empty() || path[0] != '/')
        {
            char working[PATH_MAX];
            if (getcwd(working, sizeof working) == nullptr)
                return lookupFailed("the working folder cannot be read: ");
            start = std::string(working) + "/" + path;
        }
        prependComponents(start, names);
        if (!enterRoot())
            return lookupFailed("/: ");
        return checked(folder.Get(), "/");
    }

    // Looks name up in the folder reached so far: a link leads on by its text, the last item is
    // kept, a folder is entered.
    Status step(const std::string& name)
    {
        const std::string shown = name == ".." ? parentOf(shownFolder) : joined(shownFolder, name);
        FileDescriptor next(openat(folder.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next.IsOpen())
            return lookupFailed(shown + ": ");
        struct stat status;
        if (const Status trusted = checked(next.Get(), shown, &status); !trusted.IsDone())
            return trusted;
        if (S_ISLNK(status.st_mode))
            return followLink(next.Get(), shown);
        if (names.empty())
        {
            // The last item, kept beside the folder that holds it.
            item = std::move(next);
            itemName = name;
            itemShown = shown;
            return Status::Done();
        }
        if (!S_ISDIR(status.st_mode))
            return failed(ENOTDIR, shown + " is not a folder");
        folder = std::move(next);
        shownFolder = shown;
        return Status::Done();
    }

    // The link's text goes before the names left, from "/" again when it is absolute.
    Status followLink(int linkFd, const std::string& shown)
    {
        char target[PATH_MAX + 1];
        const ssize_t size = readlinkat(linkFd, "", target, sizeof target);
        if (size < 0 || static_cast<size_t>(size) == sizeof target)
            return failed(EINVAL, shown + ": the link cannot be read");
        if (++linksFollowed > mostLinksFollowed)
            return failed(ELOOP, shown + ": too many symbolic links");
        const std::string text(target, static_cast<size_t>(size));
        prependComponents(text, names);
        if (!text.empty() && text[0] == '/' && !enterRoot())
            return lookupFailed("/: ");
        return Status::Done();
    }

    // An item that could not be looked up, as the system call just made says, in one line that
    // ends with the system's text.
    static Status lookupFailed(const std::string& message)
    {
        const int error = errno;
        return failed(error, message + strerror(error));
    }

    static Status failed(int error, const std::string& message)
    {
        return Status::Failed(error, TqString(message.c_str()));
    }

    bool enterRoot()
    {
        folder = FileDescriptor(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        shownFolder = "/";
        return folder.IsOpen();
    }

    // Done when the item open at fd may be trusted, else why not; its status in status when asked.
    Status checked(int fd, const std::string& shown, struct stat* status = nullptr)
    {
        struct stat own;
        struct stat& itemStatus = status != nullptr ? *status : own;
        struct statfs fileSystem;
        if (fstat(fd, &itemStatus) != 0 || fstatfs(fd, &fileSystem) != 0)
            return lookupFailed(shown + ": ");
        if (fileSystem.f_type == PROC_SUPER_MAGIC)
            return failed(0, shown + " is on the process file system, whose links stand for what a process "
                                     "holds open, not for a path");
        const std::string why = ownerProblem(shown, itemStatus);
        return why.empty() ? Status::Done() : failed(0, why);
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

Result<ProtectedPath::OpenedPath> ProtectedPath::Open(const TqString& path)
{
    Walk walk(0, true);
    if (const Status walked = walk.Run(path.ConstData()); !walked.IsDone())
        return walked;
    OpenedPath opened;
    walk.TakeItem(opened);
    return opened;
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
    Result<OpenedPath> walked = Open(shown);
    if (!walked.IsDone())
        return walked.GetStatus();
    opened = walked.TakeValue();
    if (fstat(opened.item.Get(), &walkedStatus) != 0 || walkedStatus.st_dev != runningStatus.st_dev ||
        walkedStatus.st_ino != runningStatus.st_ino)
        return Status::Failed(ESTALE, shown + " is no longer the program that is running");
    return Status::Done();
}

Result<uid_t> ProtectedPath::Controller(const TqString& path)
{
    const Result<OpenedPath> opened = Open(path);
    if (!opened.IsDone())
        return opened.GetStatus();
    return opened.Value().owner;
}

Status ProtectedPath::Check(const TqString& path, uid_t owner)
{
    Walk walk(owner, false);
    // Only whether it may be trusted: a lookup that failed is a problem like any other.
    const Status walked = walk.Run(path.ConstData());
    return walked.IsDone() ? walked : Status::Failed(0, walked.Message());
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
