#ifndef TQ_REMOVALLINE_H
#define TQ_REMOVALLINE_H

#include "TqString.h"

// The one line format of the removal tool's report, written by the tool and read back by the
// uninstaller: "WORD PATH" or "WORD PATH: REASON", then "summary: ...". PATH is escaped to stay
// on its line (EscapeLineText), and a ": " inside it is written ":\x20", so the first ": " of a
// line always ends the path and a reason may hold anything.

enum class RemovalLineKind
{
    Removed,     // "removed PATH"
    WouldRemove, // "would remove PATH" (a dry run)
    Kept,        // "kept PATH" or "kept PATH: WHY"
    Missing,     // "missing PATH"
    Failed,      // "failed PATH: REASON"
    WouldFail,   // "would fail PATH: REASON" (a dry run's foresight)
    Ignored,     // "ignored PATH: REASON" (a failure the entry's ignoreinstallerrors lets pass)
    Refused,     // "refused NAME: REASON"
    Summary,     // "summary: ..."
    Other        // anything else: a message of the tool or of the elevation program
};

struct RemovalLine
{
    RemovalLineKind kind = RemovalLineKind::Other;
    // As printed, that is escaped; unset for a summary or another line.
    TqString subject;
    TqString reason;
};

// The line, without its newline, for kind about path; reason may be unset where the kind allows.
TqString FormatRemovalLine(RemovalLineKind kind, const TqString& path, const TqString& reason = TqString());

// Reads a line (without its newline) back.
RemovalLine ParseRemovalLine(const TqString& line);

// Whether the kind stands for one entry handled: every per-entry report, not the summary.
bool IsEntryLine(RemovalLineKind kind);

// Whether the kind tells of something that stays against the product's will (failed, refused).
bool IsFailureLine(RemovalLineKind kind);

// The tool's word while another removal of the same target holds it back, before it removes
// anything: "waiting for another removal of TARGET" (TARGET escaped as the paths are).
TqString WaitingLine(const TqString& target);
// Whether a line (without its newline) is that word.
bool IsWaitingLine(const TqString& line);

#endif
