#ifndef TQ_SYSTEMUSER_H
#define TQ_SYSTEMUSER_H

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

// A real user made for a test with useradd, removed again with userdel when the object goes.
struct SystemUser
{
    SystemUser() = default;
    SystemUser(const SystemUser&) = delete;
    SystemUser& operator=(const SystemUser&) = delete;
    ~SystemUser()
    {
        if (!name.empty())
            (void)std::system(("/usr/sbin/userdel -f " + name + " 2>/dev/null").c_str());
    }

    // Why this process cannot make users that reach root through sudo; empty when it can.
    static std::string WhyNoUsersWithSudo()
    {
        if (geteuid() != 0)
            return "making users and sudo rules needs root";
        if (access("/usr/bin/sudo", X_OK) != 0 || access("/usr/sbin/useradd", X_OK) != 0)
            return "sudo or useradd is not installed";
        if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
            return "this process may not gain privileges, so sudo cannot work here";
        return std::string();
    }

    // Makes the user with that home (not created) and shell; false when useradd failed.
    bool Make(const std::string& userName, const std::string& home = "/nonexistent",
              const std::string& shell = "/usr/sbin/nologin")
    {
        if (std::system(("/usr/sbin/useradd -M -d " + home + " -s " + shell + " " + userName).c_str()) != 0)
            return false;
        name = userName;
        const passwd* entry = getpwnam(name.c_str());
        if (entry == nullptr)
            return false;
        uid = entry->pw_uid;
        gid = entry->pw_gid;
        return true;
    }

    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

#endif
