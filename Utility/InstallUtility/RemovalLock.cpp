#include "RemovalLock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "LineEscaping.h"
#include "ProtectedPath.h"
#include "RemovalLine.h"

namespace
{

const mode_t privateFolderMode = 0700;
const std::chrono::milliseconds retryInterval(50);

// Opens path as a folder of user that no one else may write, not following a link at the end.
// ProtectedPath has already vouched for the folders above it.
Result<FileDescriptor> openPrivateFolder(const std::string& path, uid_t user)
{
    FileDescriptor folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat folderStatus;
    if (!folder.IsOpen() || fstat(folder.Get(), &folderStatus) != 0)
        return Status::FromErrno(TqString(("cannot open the lock folder " + path).c_str()));
    if (folderStatus.st_uid != user || (folderStatus.st_mode & 07777) != privateFolderMode)
        return Status::Failed(0, TqString(("the lock folder " + path + " is not uid " + std::to_string(user) +
                                           "'s alone with mode 0700")
                                              .c_str()));
    return folder;
}

} // namespace

Result<RemovalLock::Folder> RemovalLock::OpenFolder()
{
    const uid_t user = geteuid();
    std::string parent = "/run";
    if (user != 0)
    {
        // A user without a runtime folder of their own has no place nobody else can reach.
        parent = "/run/user/" + std::to_string(user);
        const Result<uid_t> owner = ProtectedPath::Controller(TqString(parent.c_str()));
        if (!owner.IsDone() || owner.Value() != user)
            return Folder{FileDescriptor(), TqString()};
    }
    else if (const Status problem = ProtectedPath::Check(TqString(parent.c_str()), 0); !problem.IsDone())
    {
        return Status::Failed(0,
                              TqString("the lock folder's parent is not root's alone: ") + problem.Message());
    }
    const std::string path = parent + "/InstallUtility";
    if (mkdir(path.c_str(), privateFolderMode) != 0 && errno != EEXIST)
        return Status::FromErrno(TqString(("cannot make the lock folder " + path).c_str()));
    Result<FileDescriptor> opened = openPrivateFolder(path, user);
    if (!opened.IsDone())
        return opened.GetStatus();
    return Folder{opened.TakeValue(), TqString(path.c_str())};
}

Status RemovalLock::Take(const struct stat& target, const TqString& targetPath, int waitSeconds, FILE* errors,
                         bool (*stopAsked)())
{
    Release();
    Result<Folder> opened = OpenFolder();
    if (!opened.IsDone())
        return opened.GetStatus();
    if (!opened.Value().fd.IsOpen())
        return Status::Done();
    folder = std::move(opened.Value().fd);
    const TqString& folderPath = opened.Value().path;
    name = std::to_string(target.st_dev) + "-" + std::to_string(target.st_ino);
    const TqString lockPath = EscapeLineText(folderPath) + "/" + TqString(name.c_str());
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    bool said = false;
    FileDescriptor candidate;
    for (;;)
    {
        const Result<Turn> turn = tryTurn(candidate, lockPath);
        if (!turn.IsDone())
            return turn.GetStatus();
        if (turn.Value() == Turn::Had)
            return Status::Done();
        if (turn.Value() == Turn::Again)
            continue;
        if (stopAsked != nullptr && stopAsked())
            return Status::Failed(ECANCELED, TqString("cancelled while waiting for another removal"));
        if (std::chrono::steady_clock::now() >= giveUp)
            return Status::Failed(0, TqString("another removal of this target is still running"));
        if (!said)
        {
            (void)fprintf(errors, "%s\n", WaitingLine(targetPath).ConstData());
            (void)fflush(errors);
            said = true;
        }
        std::this_thread::sleep_for(retryInterval);
    }
}

Result<RemovalLock::Turn> RemovalLock::tryTurn(FileDescriptor& candidate, const TqString& lockPath)
{
    if (!candidate.IsOpen())
        candidate =
            FileDescriptor(openat(folder.Get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!candidate.IsOpen())
        return Status::FromErrno(TqString("cannot open the lock file ") + lockPath);
    if (flock(candidate.Get(), LOCK_EX | LOCK_NB) == 0)
    {
        // Had; but the run that held it before may have removed it meanwhile, and then the turn
        // is had on whatever file is at the name now. Only a file whose lock was had and that is
        // still at the name becomes the lock held.
        if (!IsLinkedAtName(candidate.Get()))
        {
            candidate = FileDescriptor();
            return Turn::Again;
        }
        file = std::move(candidate);
        return Turn::Had;
    }
    if (errno == EINTR)
        return Turn::Again;
    if (errno != EWOULDBLOCK)
        return Status::FromErrno(TqString("cannot lock ") + lockPath);
    return Turn::Held;
}

bool RemovalLock::IsLinkedAtName(int lockFile) const
{
    struct stat held, linked;
    return fstat(lockFile, &held) == 0 &&
           fstatat(folder.Get(), name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == linked.st_dev && held.st_ino == linked.st_ino;
}

void RemovalLock::Release()
{
    // Removed while held, so no run can take the turn on this file once it is gone from the name.
    if (file.IsOpen() && IsLinkedAtName(file.Get()))
        (void)unlinkat(folder.Get(), name.c_str(), 0);
    file = FileDescriptor();
    folder = FileDescriptor();
}
