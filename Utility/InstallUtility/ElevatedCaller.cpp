#include "ElevatedCaller.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "LineEscaping.h"
#include "ProtectedPath.h"

namespace
{

// The uid in text, when it is a plain decimal number.
bool parseUid(const char* text, uid_t& uid)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value != static_cast<uid_t>(value))
        return false;
    uid = static_cast<uid_t>(value);
    return true;
}

} // namespace

ElevatedCaller ElevatedCaller::Current()
{
    ElevatedCaller caller;
    if (geteuid() != 0)
        return caller;
    if (getuid() != 0)
    {
        caller.elevated = caller.userKnown = true;
        caller.user = getuid();
        caller.userText = TqString(("uid " + std::to_string(caller.user)).c_str());
        return caller;
    }
    // pkexec first: it clears the environment, so a SUDO_UID beside it came after it.
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"})
    {
        const char* value = getenv(variable);
        if (value == nullptr)
            continue;
        uid_t uid = 0;
        const bool known = parseUid(value, uid);
        // Root asking through sudo or pkexec is root started directly.
        if (known && uid == 0)
            return caller;
        caller.elevated = true;
        caller.userKnown = known;
        caller.user = uid;
        const std::string through = variable[0] == 'P' ? "pkexec" : "sudo";
        caller.userText = TqString("uid ") + EscapeLineText(TqString(value));
        caller.throughText = TqString((" (through " + through + ")").c_str());
        return caller;
    }
    return caller;
}

TqString ElevatedCaller::Refusal(const TqString& definitionPath, const TqString& targetFilePath,
                                 const TqString& targetPath, uid_t targetOwner) const
{
    if (!elevated || (userKnown && targetOwner == user))
        return TqString();
    TqString problem = ProtectedPath::Problem(definitionPath, 0);
    if (problem.IsEmpty())
        problem = ProtectedPath::Problem(targetFilePath, 0);
    if (problem.IsEmpty())
        return TqString();
    return TqString("refusing to remove as root for ") + userText + throughText + ": " +
           EscapeLineText(problem) +
           "; the definition and target files and every folder above them must be root's and writable by "
           "no one else, or the target folder " +
           EscapeLineText(targetPath) + " must belong to " + userText +
           " (running InstallUtility as root directly skips this check)";
}
