#ifndef TQ_REMOVALRIGHTS_H
#define TQ_REMOVALRIGHTS_H

#include <sys/types.h>
#include <vector>

#include "ProtectedPath.h"
#include "Status.h"
#include "TqString.h"

// The rights a removal runs with: those of whoever controls what decides it. The inputs are the
// tool itself, the definition and the target-path file, with every folder above each. When root
// alone controls them the tool acts as whoever runs it; when the ones that are not root's all
// belong to one user, a tool running as root becomes that user before it reads or removes
// anything, so the kernel refuses what that user may not do. Nothing else (how the tool was
// started, its environment) takes part.
namespace RemovalRights
{

// One input: its path, and what is said when it cannot be found or read.
struct Input
{
    TqString path;
    TqString unreadable;
};

// The tool's own program, opened by the walk from the path the kernel gives for it and checked to
// be the very program running; failed with the line to write when it is not.
[[nodiscard]] Status OpenTool(ProtectedPath::OpenedPath& opened);

// Opens each input by the walk, into opened (in the same order), and settles the one non-root uid
// that controls some of them with the tool, or 0 when root alone controls them all. Failed, with
// the refusal line as message, when two users control them or one of them is writable by a group
// or others; with the input's unreadable line (and its errno value) when the walk to it fails.
[[nodiscard]] Status OpenInputs(const std::vector<Input>& inputs, const ProtectedPath::OpenedPath& tool,
                                std::vector<ProtectedPath::OpenedPath>& opened, uid_t& controller);

// Takes on the rights for inputs controlled by controller: a process running as root becomes a
// non-root controller for good (BecomeUser); any other process goes on as itself, unless the
// inputs are controlled by someone else. Failed with the refusal line.
[[nodiscard]] Status ActFor(uid_t controller);

} // namespace RemovalRights

#endif
