#include "TreeCopy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "FileDescriptor.h"
#include "FolderListing.h"
#include "NodeIdentity.h"
#include "PathText.h"

namespace
{

// No one but the owner may write into a copy: root runs from it.
const mode_t kCopiedModeBits = 0755;

// Each level holds two descriptors; deeper than this is no bundle.
const size_t kMaxDepth = 256;

const int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder being copied: its names are read when it is entered, then copied one by one.
struct Level
{
    FileDescriptor source;
    FileDescriptor copy;
    std::string where; // inside the copied tree, with a trailing "/" unless it is the top
    mode_t mode = 0;   // the source folder's, put on the copy once it is filled
    std::vector<std::string> names;
    size_t next = 0;
};

class Walk
{
public:
    Walk(const TqString& source, const CopyOptions& copyOptions)
        : from(source.ConstData()), options(copyOptions)
    {
        const std::string replaced = options.replacedFile.IsSet() ? options.replacedFile.ConstData() : "";
        const size_t slash = replaced.rfind('/');
        replacedFolder = slash == std::string::npos ? "" : replaced.substr(0, slash + 1);
        replacedName = slash == std::string::npos ? replaced : replaced.substr(slash + 1);
        replacementPending = !replaced.empty();
    }

    Status Run(int destinationFolderFd, const char* name)
    {
        struct stat status;
        if (fstatat(AT_FDCWD, from.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return Status::FromErrno(text("could not read ", ""));
        if (S_ISLNK(status.st_mode))
            return copyLink(AT_FDCWD, from.c_str(), destinationFolderFd, name, "");
        if (S_ISREG(status.st_mode))
            return copyFile(AT_FDCWD, from.c_str(), destinationFolderFd, name, "");
        if (!S_ISDIR(status.st_mode))
            return Status::Done(); // sockets, FIFOs and devices are no part of what runs
        Level top;
        top.source = FileDescriptor(open(from.c_str(), kOpenFolder));
        if (!top.source.IsOpen())
            return Status::FromErrno(text("could not read ", ""));
        const Result<NodeIdentity> source = IdentifyNode(top.source.Get(), "");
        if (!source.IsDone())
            return source.GetStatus().Because(text("could not read ", ""));
        sourceTop = source.Value();
        if (liesWithinSource(destinationFolderFd))
            return Status::Failed(EINVAL, text("could not copy a folder into itself: ", ""));
        if (Status made = makeFolder(top, destinationFolderFd, name, ""); !made.IsDone())
            return made;
        const Result<NodeIdentity> copy = IdentifyNode(top.copy.Get(), "");
        if (!copy.IsDone())
            return copy.GetStatus().Because(text("could not read the copy of ", ""));
        copyTop = copy.Value();
        top.mode = status.st_mode;
        if (Status listed = list(top); !listed.IsDone())
            return listed;
        levels.push_back(std::move(top));
        while (!levels.empty())
        {
            if (options.stopAsked && options.stopAsked())
                return Status::Failed(EINTR, "the copy was stopped");
            Status step = levels.back().next < levels.back().names.size() ? copyNext() : leave();
            if (!step.IsDone())
                return step;
        }
        if (replacementPending)
            return Status::Failed(ENOENT, text("no folder for the running program in ", ""));
        return Status::Done();
    }

private:
    Status copyNext()
    {
        Level& level = levels.back();
        const std::string& name = level.names[level.next++];
        const std::string path = level.where + name;
        if (replacementPending && level.where == replacedFolder && name == replacedName)
            return writeReplacement(level);
        struct stat status;
        if (fstatat(level.source.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        {
            const Status read = Status::FromErrno(text("could not read ", path));
            return read.IsNotFound() ? Status::Done() : read;
        }
        if (S_ISLNK(status.st_mode))
            return copyLink(level.source.Get(), name.c_str(), level.copy.Get(), name.c_str(), path);
        if (S_ISREG(status.st_mode))
            return copyFile(level.source.Get(), name.c_str(), level.copy.Get(), name.c_str(), path);
        if (!S_ISDIR(status.st_mode))
            return Status::Done();
        return enter(level, name, status.st_mode);
    }

    Status enter(Level& parent, const std::string& name, mode_t mode)
    {
        const std::string path = parent.where + name;
        if (levels.size() > kMaxDepth)
            return Status::Failed(ELOOP, text("could not copy, nested too deeply: ", path));
        Level inner;
        inner.source = FileDescriptor(openat(parent.source.Get(), name.c_str(), kOpenFolder));
        if (!inner.source.IsOpen())
            return Status::FromErrno(text("could not read ", path));
        // The copy's own folder, met inside the source, would be copied for ever.
        const Result<NodeIdentity> folder = IdentifyNode(inner.source.Get(), "");
        if (!folder.IsDone() || folder.Value() == copyTop)
            return Status::Failed(EINVAL, text("could not copy a folder into itself: ", ""));
        if (Status made = makeFolder(inner, parent.copy.Get(), name.c_str(), path); !made.IsDone())
            return made;
        inner.where = path + "/";
        inner.mode = mode;
        if (Status listed = list(inner); !listed.IsDone())
            return listed;
        levels.push_back(std::move(inner));
        return Status::Done();
    }

    // Done with the top level: the running program goes in if its folder lacked it, then the
    // folder's final permissions, last, so that a read-only folder could still be filled.
    Status leave()
    {
        Level& level = levels.back();
        if (replacementPending && level.where == replacedFolder)
        {
            if (Status written = writeReplacement(level); !written.IsDone())
                return written;
        }
        if (fchmod(level.copy.Get(), level.mode & kCopiedModeBits) != 0)
            return Status::FromErrno(text("could not set the permissions of the copy of ", level.where));
        levels.pop_back();
        return Status::Done();
    }

    Status makeFolder(Level& level, int destinationFolderFd, const char* name, const std::string& path)
    {
        if (mkdirat(destinationFolderFd, name, 0700) != 0)
            return Status::FromErrno(text("could not create the copy of ", path));
        level.copy = FileDescriptor(openat(destinationFolderFd, name, kOpenFolder));
        if (!level.copy.IsOpen())
            return Status::FromErrno(text("could not open the copy of ", path));
        return Status::Done();
    }

    Status list(Level& level)
    {
        FolderListing listing(level.source.Get());
        if (!listing.Error().IsDone())
            return listing.Error().Because(text("could not read ", level.where));
        while (const dirent* entry = listing.Next())
            level.names.push_back(entry->d_name);
        return Status::Done();
    }

    Status copyLink(int folderFd, const char* name, int destinationFolderFd, const char* copyName,
                    const std::string& path)
    {
        std::vector<char> target(256);
        for (;;)
        {
            const ssize_t size = readlinkat(folderFd, name, target.data(), target.size());
            if (size < 0)
                return Status::FromErrno(text("could not read the link ", path));
            if (static_cast<size_t>(size) < target.size())
            {
                target[static_cast<size_t>(size)] = '\0';
                break;
            }
            target.resize(target.size() * 2);
        }
        if (symlinkat(target.data(), destinationFolderFd, copyName) != 0)
            return Status::FromErrno(text("could not create the copy of the link ", path));
        return Status::Done();
    }

    // O_NONBLOCK: an entry swapped for a FIFO since it was looked at must not hang the copy.
    Status copyFile(int folderFd, const char* name, int destinationFolderFd, const char* copyName,
                    const std::string& path)
    {
        FileDescriptor input(openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat status;
        if (!input.IsOpen() || fstat(input.Get(), &status) != 0)
            return Status::FromErrno(text("could not open ", path));
        if (!S_ISREG(status.st_mode))
            return Status::Failed(EAGAIN, text("changed while it was copied: ", path));
        return writeFile(input.Get(), status.st_mode, destinationFolderFd, copyName, path);
    }

    Status writeReplacement(const Level& level)
    {
        replacementPending = false;
        struct stat status;
        if (fstat(options.replacementFd, &status) != 0 || !S_ISREG(status.st_mode))
            return Status::Failed(errno != 0 ? errno : EINVAL, "could not read the running program");
        return writeFile(options.replacementFd, status.st_mode, level.copy.Get(), replacedName.c_str(),
                         level.where + replacedName);
    }

    // The contents from offset 0 of input (pread: the descriptor may be read again), through a
    // buffer on the heap: the uninstaller may run on a small stack.
    Status writeFile(int input, mode_t mode, int destinationFolderFd, const char* name,
                     const std::string& path)
    {
        FileDescriptor output(
            openat(destinationFolderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!output.IsOpen())
            return Status::FromErrno(text("could not create the copy of ", path));
        buffer.resize(65536);
        for (off_t offset = 0;;)
        {
            if (options.stopAsked && options.stopAsked())
                return Status::Failed(EINTR, "the copy was stopped");
            const ssize_t got = pread(input, buffer.data(), buffer.size(), offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return Status::FromErrno(text("could not read ", path));
            if (got == 0)
                break;
            for (ssize_t written = 0; written < got;)
            {
                const ssize_t put =
                    write(output.Get(), buffer.data() + written, static_cast<size_t>(got - written));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    return Status::Failed(put < 0 ? errno : ENOSPC,
                                          text("could not write the copy of ", path));
                written += put;
            }
            offset += got;
        }
        if (fchmod(output.Get(), mode & kCopiedModeBits) != 0)
            return Status::FromErrno(text("could not set the permissions of the copy of ", path));
        return Status::Done();
    }

    // True when the folder the copy goes into is the source or lies inside it, found by climbing
    // its ".." entries.
    bool liesWithinSource(int folderFd) const
    {
        Result<NodeIdentity> here = IdentifyNode(folderFd, "");
        if (!here.IsDone())
            return false;
        FileDescriptor current;
        for (size_t steps = 0; steps < 4096; ++steps)
        {
            if (here.Value() == sourceTop)
                return true;
            FileDescriptor above(openat(current.IsOpen() ? current.Get() : folderFd, "..", kOpenFolder));
            if (!above.IsOpen())
                return false;
            Result<NodeIdentity> up = IdentifyNode(above.Get(), "");
            if (!up.IsDone() || up.Value() == here.Value())
                return false;
            current = std::move(above);
            here = std::move(up);
        }
        return false;
    }

    // A message about path inside the copied tree, named from the source.
    TqString text(const char* what, const std::string& path) const
    {
        const std::string whole = path.empty() ? from : from + "/" + path;
        return TqString(what) + TqString(whole.data(), whole.size());
    }

    const std::string from;
    const CopyOptions& options;
    std::string replacedFolder;
    std::string replacedName;
    bool replacementPending = false;
    NodeIdentity sourceTop;
    NodeIdentity copyTop;
    std::vector<Level> levels;
    std::vector<char> buffer;
};

} // namespace

Status CopyTreeAt(const TqString& from, int destinationFolderFd, const char* name, const CopyOptions& options)
{
    if (from.IsEmpty() || name == nullptr || *name == '\0')
        return Status::Failed(ENOENT, "nothing to copy");
    Walk walk(from, options);
    return walk.Run(destinationFolderFd, name);
}

Status CopyTree(const TqString& from, const TqString& to, const CopyOptions& options)
{
    if (from.IsEmpty() || to.IsEmpty())
        return Status::Failed(ENOENT, "nothing to copy");
    TqString parent = PathText::Parent(to);
    if (parent.IsEmpty())
        parent = ".";
    const char* slash = std::strrchr(to.ConstData(), '/');
    const FileDescriptor folder(open(parent.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen())
        return Status::FromErrno(TqString("could not open ") + parent);
    return CopyTreeAt(from, folder.Get(), slash == nullptr ? to.ConstData() : slash + 1, options);
}
