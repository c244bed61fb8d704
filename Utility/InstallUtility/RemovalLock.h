#ifndef TQ_REMOVALLOCK_H
#define TQ_REMOVALLOCK_H

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "FileDescriptor.h"
#include "Status.h"
#include "TqString.h"

// The turn of one removal of a target: runs of the same acting user on the same target folder
// take turns, so a later one finds what an earlier one left. The lock is a file only that user's
// own runs can reach: for root /run/InstallUtility/DEVICE-INODE (the folder root's alone, 0700),
// for another user the same name under the user's own runtime folder /run/user/UID/InstallUtility.
// Nobody else can hold it, so nobody else can stop a removal. A user without a runtime folder of
// their own goes without: runs at the same time are still safe, since what another run removed
// counts as gone.
//
// The run that holds the lock removes its file when it ends, still holding it; a run that was
// waiting on that file then finds it no longer at the name and starts again with the file there
// now. So the turn is only ever held on the file linked at the name, by one run at a time, and
// the folder keeps no file of a run that has ended (but of one that was killed, whose file the
// next run takes over).
class RemovalLock
{
public:
    RemovalLock() {}
    RemovalLock(const RemovalLock&) = delete;
    RemovalLock& operator=(const RemovalLock&) = delete;
    ~RemovalLock() { Release(); }

    // How long a run waits for another before it gives up.
    static const int defaultWaitSeconds = 60;

    // Takes the turn for the target folder with status, acting as the current effective user.
    // While another run holds it, writes "waiting for another removal of TARGET" once on errors
    // and tries again until waitSeconds have passed; then Failed with "another removal of this
    // target is still running". Failed too when the lock folder is not as it must be, and with
    // ECANCELED as soon as stopAsked (when given) says the run was asked to stop.
    [[nodiscard]] Status Take(const struct stat& target, const TqString& targetPath, int waitSeconds,
                              FILE* errors, bool (*stopAsked)() = nullptr);

    // Removes the lock file, while still holding it, and lets go of the turn.
    void Release();

    struct Folder
    {
        FileDescriptor fd; // closed when the user has none
        TqString path;
    };
    // The lock folder of the current effective user, made when missing. Failed when a folder on
    // the way is not the user's alone.
    static Result<Folder> OpenFolder();

private:
    enum class Turn
    {
        Had,   // the lock is held
        Held,  // another run holds it
        Again  // try again at once: interrupted, or the file had is no longer at the name
    };
    // One try at the turn on candidate (opened at the name when closed).
    Result<Turn> tryTurn(FileDescriptor& candidate, const TqString& lockPath);

    // Whether lockFile is the file at the lock's name in the folder.
    bool IsLinkedAtName(int lockFile) const;

    FileDescriptor folder;
    std::string name;
    FileDescriptor file;
};

#endif
