#include "RemovalRights.h"

#include <cerrno>
#include <climits>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "LineEscaping.h"
#include "ProtectedPath.h"

namespace
{

// The group for a uid the user database does not know: one that grants nothing.
const gid_t unknownUserGroup = 65534;

TqString uidText(uid_t uid)
{
    return TqString(("uid " + std::to_string(uid)).c_str());
}

Status refusal(const TqString& why)
{
    return Status::Failed(0, TqString("refusing to remove: ") + why);
}

// The primary and supplementary groups of user.
Status groupsOf(uid_t user, gid_t& group, std::vector<gid_t>& groups)
{
    errno = 0;
    const struct passwd* entry = getpwuid(user);
    if (entry == nullptr)
    {
        if (errno != 0 && errno != ENOENT && errno != ESRCH)
            return Status::Failed(errno, TqString("cannot look up ") + uidText(user));
        group = unknownUserGroup;
        groups.clear();
        return Status::Done();
    }
    group = entry->pw_gid;
    int count = 16;
    groups.resize(static_cast<size_t>(count));
    while (getgrouplist(entry->pw_name, group, groups.data(), &count) < 0)
    {
        if (count <= static_cast<int>(groups.size()))
            count = static_cast<int>(groups.size()) * 2;
        groups.resize(static_cast<size_t>(count));
    }
    groups.resize(static_cast<size_t>(count));
    return Status::Done();
}

// Becomes user with group and groups, all ids at once, and checks that nothing of root is left.
Status becomeUser(uid_t user, gid_t group, const std::vector<gid_t>& groups)
{
    if (setgroups(groups.size(), groups.empty() ? nullptr : groups.data()) != 0)
        return Status::Failed(errno, TqString("cannot set the groups of ") + uidText(user));
    if (setresgid(group, group, group) != 0)
        return Status::Failed(errno, TqString("cannot set the group of ") + uidText(user));
    if (setresuid(user, user, user) != 0)
        return Status::Failed(errno, TqString("cannot become ") + uidText(user));
    uid_t realUid, effectiveUid, savedUid;
    gid_t realGid, effectiveGid, savedGid;
    if (getresuid(&realUid, &effectiveUid, &savedUid) != 0 ||
        getresgid(&realGid, &effectiveGid, &savedGid) != 0 || realUid != user || effectiveUid != user ||
        savedUid != user || realGid != group || effectiveGid != group || savedGid != group)
        return Status::Failed(0, TqString("the ids did not all change to ") + uidText(user));
    return Status::Done();
}

} // namespace

TqString RemovalRights::ToolPath()
{
    char path[PATH_MAX + 1];
    const ssize_t size = readlink("/proc/self/exe", path, sizeof path);
    if (size <= 0 || static_cast<size_t>(size) == sizeof path)
        return TqString("/proc/self/exe");
    return TqString(path, static_cast<unsigned long>(size));
}

Status RemovalRights::InputsController(const std::vector<Input>& inputs, uid_t& controller)
{
    uid_t found = 0;
    const TqString* foundInput = nullptr;
    for (const Input& listed : inputs)
    {
        const TqString& input = listed.path;
        uid_t owner = 0;
        const Status status = ProtectedPath::Controller(input, owner);
        if (status.Errno() != 0)
            return Status::Failed(status.Errno(), listed.unreadable);
        if (!status.IsDone())
            return refusal(EscapeLineText(status.Message()) +
                           "; the tool, the definition, the target file and every folder above them must be "
                           "writable by their owners alone, and belong to root or to one user");
        if (owner == 0)
            continue;
        if (foundInput != nullptr && owner != found)
            return refusal(EscapeLineText(input) + " is controlled by " + uidText(owner) + ", and " +
                           EscapeLineText(*foundInput) + " by " + uidText(found) +
                           "; what decides a removal must belong to root or to one user");
        found = owner;
        foundInput = &input;
    }
    controller = found;
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
    gid_t group = 0;
    std::vector<gid_t> groups;
    Status status = groupsOf(controller, group, groups);
    if (status.IsDone())
        status = becomeUser(controller, group, groups);
    if (!status.IsDone())
        return refusal(TqString("cannot take on the rights of ") + uidText(controller) +
                       ", who controls what decides this removal: " + status.Text());
    return Status::Done();
}
