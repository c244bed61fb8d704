#include "RemovalRights.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "LineEscaping.h"
#include "UserIdentity.h"

namespace
{

TqString uidText(uid_t uid)
{
    return TqString(("uid " + std::to_string(uid)).c_str());
}

Status refusal(const TqString& why)
{
    return Status::Failed(0, TqString("refusing to remove: ") + why);
}

const char kTrustRule[] = "; the tool, the definition, the target file and every folder above them must be "
                          "writable by their owners alone, and belong to root or to one user";

} // namespace

Status RemovalRights::OpenTool(ProtectedPath::OpenedPath& opened)
{
    // The kernel's link names the program this process runs; its text is a path to walk, and what
    // the walk finds must be that very program.
    char path[PATH_MAX + 1];
    const FileDescriptor running(open("/proc/self/exe", O_PATH | O_CLOEXEC));
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path);
    struct stat runningStatus, walkedStatus;
    if (!running.IsOpen() || size <= 0 || static_cast<size_t>(size) == sizeof path ||
        fstat(running.Get(), &runningStatus) != 0)
        return Status::Failed(errno != 0 ? errno : ENOENT, "cannot find the tool's own program");
    const TqString shown(path, static_cast<unsigned long>(size));
    const Status walked = ProtectedPath::Open(shown, opened);
    if (walked.Errno() != 0)
        return Status::Failed(walked.Errno(), TqString("cannot find the tool's own program ") +
                                                  EscapeLineText(shown));
    if (!walked.IsDone())
        return refusal(EscapeLineText(walked.Message()) + kTrustRule);
    if (fstat(opened.item.Get(), &walkedStatus) != 0 || walkedStatus.st_dev != runningStatus.st_dev ||
        walkedStatus.st_ino != runningStatus.st_ino)
        return refusal(EscapeLineText(shown) + " is no longer the program that is running");
    return Status::Done();
}

Status RemovalRights::OpenInputs(const std::vector<Input>& inputs, const ProtectedPath::OpenedPath& tool,
                                 std::vector<ProtectedPath::OpenedPath>& opened, uid_t& controller)
{
    opened.clear();
    opened.resize(inputs.size());
    std::vector<const ProtectedPath::OpenedPath*> all{&tool};
    for (size_t index = 0; index < inputs.size(); ++index)
    {
        const Status status = ProtectedPath::Open(inputs[index].path, opened[index]);
        if (status.Errno() != 0)
            return Status::Failed(status.Errno(), inputs[index].unreadable);
        if (!status.IsDone())
            return refusal(EscapeLineText(status.Message()) + kTrustRule);
        all.push_back(&opened[index]);
    }
    const Status joint = ProtectedPath::JointController(all, controller);
    if (!joint.IsDone())
        return refusal(EscapeLineText(joint.Message()) + "; what decides a removal must belong to root or to one user");
    return Status::Done();
}

Status RemovalRights::ActFor(uid_t controller)
{
    if (controller == 0)
        return Status::Done();
    if (geteuid() != 0)
    {
        if (geteuid() == controller && getuid() == controller)
            return Status::Done();
        return refusal(TqString("what decides this removal is controlled by ") + uidText(controller) +
                       ", not by the user running it (" + uidText(geteuid()) + ")");
    }
    UserIdentity identity;
    Status status = LookUpUser(controller, identity);
    if (status.IsDone())
    {
        const int error = BecomeUser(identity);
        if (error != 0)
            status = Status::Failed(error, TqString("cannot become ") + uidText(controller));
    }
    if (!status.IsDone())
        return refusal(TqString("cannot take on the rights of ") + uidText(controller) +
                       ", who controls what decides this removal: " + status.Text());
    return Status::Done();
}
