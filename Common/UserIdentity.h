#ifndef TQ_USERIDENTITY_H
#define TQ_USERIDENTITY_H

#include <sys/types.h>
#include <vector>

#include "Status.h"
#include "TqString.h"

// The one way this system becomes a user, for the removal tool's own drop and for a child that
// root starts on a user's behalf alike. The ids come from the account database and nowhere else:
// never from the files the user owns.
struct UserIdentity
{
    uid_t user = 0;
    gid_t group = 0;
    std::vector<gid_t> groups;
    // The account's home folder, "/" for a uid without an account.
    TqString home;
};

// The group of a uid without an account: one that grants nothing.
const gid_t accountlessGroup = 65534;

// The account's primary and supplementary groups and home; a uid without an account gets
// accountlessGroup and no supplementary group. Failed only when the database cannot be read.
Result<UserIdentity> LookUpUser(uid_t user);

// Takes on identity for good: supplementary groups, then gid, then uid, and checks that the real,
// effective and saved ids of both changed. Only system calls, no allocation, so that a child
// between fork and exec may call it. 0, or the errno value (EPERM when an id did not change).
[[nodiscard]] int BecomeUser(const UserIdentity& identity);

#endif
