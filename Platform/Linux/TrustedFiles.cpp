#include "TrustedFiles.h"

#include <cerrno>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "LineEscaping.h"
#include "ProtectedPath.h"

namespace
{

// The user's account name, or "#UID" as sudo takes a uid without one.
std::string accountName(uid_t user)
{
    const struct passwd* entry = getpwuid(user);
    return entry != nullptr ? entry->pw_name : "#" + std::to_string(user);
}

// text as one word for a POSIX shell.
std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char character : text)
        quoted += character == '\'' ? std::string("'\\''") : std::string(1, character);
    return quoted + "'";
}

} // namespace

Result<uid_t> SettleControl(RemovalFiles& files)
{
    TqString* paths[] = {&files.tool, &files.definition, &files.targetPathFile};
    ProtectedPath::OpenedPath opened[3];
    std::vector<const ProtectedPath::OpenedPath*> all;
    Status untrusted;
    for (size_t index = 0; index < 3; ++index)
    {
        Result<ProtectedPath::OpenedPath> walked = ProtectedPath::Open(*paths[index]);
        const Status status = walked.GetStatus();
        if (walked.IsDone())
            opened[index] = walked.TakeValue();
        if (paths[index]->IsEmpty())
            return Status::Failed(ENOENT, *paths[index]);
        if (status.IsSystemFailure())
            return status.Because(*paths[index]);
        if (!status.IsDone() && untrusted.IsDone())
            untrusted = status;
        all.push_back(&opened[index]);
    }
    if (!untrusted.IsDone())
        return untrusted;
    for (size_t index = 0; index < 3; ++index)
        *paths[index] = opened[index].realPath;
    return ProtectedPath::JointController(all);
}

namespace
{

// The running program for index 0, else paths[index - 1], as the trust walk opens it.
Status OpenRunningProgramOrPath(unsigned long index, const Vector<TqString>& paths, ProtectedPath::OpenedPath& opened)
{
    if (index == 0)
    {
        TqString shown;
        return ProtectedPath::OpenRunningProgram(opened, shown);
    }
    Result<ProtectedPath::OpenedPath> walked = ProtectedPath::Open(paths[index - 1]);
    if (!walked.IsDone())
        return walked.GetStatus();
    opened = walked.TakeValue();
    return Status::Done();
}

} // namespace

Status CheckRootMayRun(const Vector<TqString>& paths)
{
    if (geteuid() != 0)
        return Status::Done();
    // One item open at a time, so that a low descriptor limit is met by the copy, which says so.
    TqString program, controlled;
    uid_t controller = 0;
    for (unsigned long index = 0; index <= paths.size(); ++index)
    {
        ProtectedPath::OpenedPath opened, other;
        Status status = OpenRunningProgramOrPath(index, paths, opened);
        if (index == 0)
            program = opened.realPath;
        if (status.IsDone() && controller != 0)
        {
            other.owner = controller;
            other.realPath = controlled;
            const Result<uid_t> joint = ProtectedPath::JointController({&other, &opened});
            status = joint.GetStatus();
            if (joint.IsDone())
                controller = joint.Value();
        }
        else if (status.IsDone() && opened.owner != 0)
        {
            controller = opened.owner;
            controlled = opened.realPath;
        }
        if (!status.IsDone())
            return status.Because(TqString("refusing to run as root: ") + EscapeLineText(status.Message()));
    }
    if (controller == 0)
        return Status::Done();
    const std::string user = accountName(controller);
    return Status::Failed(
        0, TqString(("refusing to run as root: this installation is controlled by uid " + std::to_string(controller) +
                     " (" + user + "), not by root alone, and root does not copy or run a user's installation; "
                     "run it as that user: sudo -u " + shellQuoted(user) + " " +
                     shellQuoted(EscapeLineText(program).ConstData()))
                        .c_str()));
}
