#include "UserIdentity.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

Result<UserIdentity> LookUpUser(uid_t user)
{
    UserIdentity identity;
    identity.user = user;
    errno = 0;
    const struct passwd* entry = getpwuid(user);
    if (entry == nullptr)
    {
        if (errno != 0 && errno != ENOENT && errno != ESRCH)
            return Status::FromErrno(TqString(("cannot look up uid " + std::to_string(user)).c_str()));
        identity.group = accountlessGroup;
        identity.home = "/";
        return identity;
    }
    identity.group = entry->pw_gid;
    identity.home = entry->pw_dir != nullptr && entry->pw_dir[0] == '/' ? entry->pw_dir : "/";
    int count = 16;
    identity.groups.resize(static_cast<size_t>(count));
    while (getgrouplist(entry->pw_name, identity.group, identity.groups.data(), &count) < 0)
    {
        if (count <= static_cast<int>(identity.groups.size()))
            count = static_cast<int>(identity.groups.size()) * 2;
        identity.groups.resize(static_cast<size_t>(count));
    }
    identity.groups.resize(static_cast<size_t>(count));
    return identity;
}

int BecomeUser(const UserIdentity& identity)
{
    const uid_t user = identity.user;
    const gid_t group = identity.group;
    if (setgroups(identity.groups.size(), identity.groups.empty() ? nullptr : identity.groups.data()) != 0 ||
        setresgid(group, group, group) != 0 || setresuid(user, user, user) != 0)
        return errno;
    uid_t realUid, effectiveUid, savedUid;
    gid_t realGid, effectiveGid, savedGid;
    if (getresuid(&realUid, &effectiveUid, &savedUid) != 0 || getresgid(&realGid, &effectiveGid, &savedGid) != 0)
        return errno;
    const bool changed = realUid == user && effectiveUid == user && savedUid == user && realGid == group &&
                         effectiveGid == group && savedGid == group;
    return changed ? 0 : EPERM;
}
