#ifndef TQ_RUNFOLDERS_H
#define TQ_RUNFOLDERS_H

#include <sys/stat.h>
#include <sys/types.h>

#include "TqString.h"

// The private folders the uninstaller copies itself into, one per run, directly in the temporary
// directory: named by UniqueRunString (random hexadecimal digits, "-", the process id), owned by
// the user, mode 0700, and holding a record of when the process that made it started, so that a
// later run can tell one whose process is gone (killed with SIGKILL, a power cut) and remove it.

// A run folder's name as UniqueRunString makes it (kRunDigits hexadecimal digits, kRunSeparator,
// the process id).
bool IsRunFolderName(const TqString& name);

// A folder (not a link to one) of user's with mode 0700, as run folders are made.
bool IsPrivateFolderOf(const struct stat& status, uid_t user);

// When the process pid started, in clock ticks after boot (/proc/PID/stat); false when there is
// no such process or it cannot be read.
[[nodiscard]] bool ProcessStartTime(pid_t pid, unsigned long long& startTime);

// Writes into the open run folder the record of this process's start; false when it could not.
[[nodiscard]] bool WriteRunRecord(int runFolderFd);

// Removes from temporaryFolder every run folder of user's whose process is provably gone: no
// process has its pid, or the one that has it started at another time than recorded. Each goes
// by the tree walk, no link followed. Nothing is removed when this process's own start cannot be
// read (no /proc), for then no process could be told alive.
void RemoveAbandonedRunFolders(const TqString& temporaryFolder, uid_t user);

#endif
