#ifndef TQ_ELEVATEDCALLER_H
#define TQ_ELEVATEDCALLER_H

#include <sys/types.h>

#include "TqString.h"

// The user for whom the tool runs as root when that user is not root: pkexec and sudo name the
// user who asked in PKEXEC_UID and SUDO_UID. Such a user chose the files the tool reads, so the
// tool then removes only what root itself, or that user, could have asked for.
class ElevatedCaller
{
public:
    // As this process was started: elevated when it runs as root and the real uid, PKEXEC_UID or
    // SUDO_UID names someone other than root.
    static ElevatedCaller Current();

    bool IsElevated() const { return elevated; }

    // The refusal line for an elevated run, or the unset string when removing may go on: either
    // both files (and every folder above them) are root's and writable by no one else, or the
    // target folder, whose owner is targetOwner, belongs to the user who asked.
    [[nodiscard]] TqString Refusal(const TqString& definitionPath, const TqString& targetFilePath,
                                   const TqString& targetPath, uid_t targetOwner) const;

private:
    bool elevated = false;
    bool userKnown = false;
    uid_t user = 0;
    // How the user and the way up are named in messages: "uid 1000", " (through sudo)".
    TqString userText;
    TqString throughText;
};

#endif
