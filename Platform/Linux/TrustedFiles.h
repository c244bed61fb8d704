#ifndef TQ_TRUSTEDFILES_H
#define TQ_TRUSTEDFILES_H

#include <sys/types.h>

#include "Status.h"
#include "TqString.h"
#include "Vector.h"

// Which installation may be handed to root, by the one rule that the removal tool applies to
// itself (ProtectedPath): whoever controls a file or a folder above it controls the installation.

// The removal tool and the two data files it reads.
struct RemovalFiles
{
    TqString tool;
    TqString definition;
    TqString targetPathFile;
};

// Who controls the files together: 0 when root alone does, else the one other user; and the real
// path of each, put in place. Failed with the errno value and the path when one cannot be found;
// with the walk's line (errno 0) when no one user controls them (two users, or writable by others),
// the paths then left as given.
Result<uid_t> SettleControl(RemovalFiles& files);

// For a process running as root, before it copies or runs anything of the installation: done
// when root alone controls the running program (the file it was started from, checked to be the
// very one) and each of paths, else failed with one line naming who controls them and the
// command that works for that user. Done at once for any other process.
[[nodiscard]] Status CheckRootMayRun(const Vector<TqString>& paths);

#endif
