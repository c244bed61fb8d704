#include "RemovalRights.h"

#include <cerrno>
#include <string>
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
    TqString shown;
    const Status walked = ProtectedPath::OpenRunningProgram(opened, shown);
    if (walked.IsDone())
        return walked;
    if (shown.IsEmpty())
        return walked.Because("cannot find the tool's own program");
    if (walked.IsStale())
        return refusal(EscapeLineText(shown) + " is no longer the program that is running");
    if (walked.IsSystemFailure())
        return walked.Because(TqString("cannot find the tool's own program ") + EscapeLineText(shown));
    return refusal(EscapeLineText(walked.Message()) + kTrustRule);
}

Status RemovalRights::OpenInputs(const std::vector<Input>& inputs, const ProtectedPath::OpenedPath& tool,
                                 std::vector<ProtectedPath::OpenedPath>& opened, uid_t& controller)
{
    opened.clear();
    opened.resize(inputs.size());
    std::vector<const ProtectedPath::OpenedPath*> all{&tool};
    for (size_t index = 0; index < inputs.size(); ++index)
    {
        Result<ProtectedPath::OpenedPath> walked = ProtectedPath::Open(inputs[index].path);
        const Status& status = walked.GetStatus();
        if (status.IsSystemFailure())
            return status.Because(inputs[index].unreadable);
        if (!walked.IsDone())
            return refusal(EscapeLineText(status.Message()) + kTrustRule);
        opened[index] = walked.TakeValue();
        all.push_back(&opened[index]);
    }
    const Result<uid_t> joint = ProtectedPath::JointController(all);
    if (!joint.IsDone())
        return refusal(EscapeLineText(joint.GetStatus().Message()) +
                       "; what decides a removal must belong to root or to one user");
    controller = joint.Value();
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
    const Result<UserIdentity> identity = LookUpUser(controller);
    Status status = identity.GetStatus();
    if (identity.IsDone())
    {
        const int error = BecomeUser(identity.Value());
        if (error != 0)
            status = Status::Failed(error, TqString("cannot become ") + uidText(controller));
    }
    if (!status.IsDone())
        return refusal(TqString("cannot take on the rights of ") + uidText(controller) +
                       ", who controls what decides this removal: " + status.Text());
    return Status::Done();
}
