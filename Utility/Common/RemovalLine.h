#ifndef TQ_REMOVALLINE_H
#define TQ_REMOVALLINE_H

#include <string>

#include "TqString.h"

// The one line format of the removal tool's report, written by the tool and read back by the
// uninstaller: "WORD PATH" or "WORD PATH: REASON", then "summary: ...". PATH is escaped to stay
// on its line (EscapeLineText), and a ": " inside it is written ":\x20", so the first ": " of a
// line always ends the path and a reason may hold anything.

enum class RemovalLineKind
{
    Removed,        // "removed PATH"
    WouldRemove,    // "would remove PATH" (a dry run)
    Kept,           // "kept PATH" or "kept PATH: WHY"
    Missing,        // "missing PATH"
    Failed,         // "failed PATH: REASON"
    WouldFail,      // "would fail PATH: REASON" (a dry run's foresight)
    Ignored,        // "ignored PATH: REASON" (a failure the entry's ignoreinstallerrors lets pass)
    WouldBeIgnored, // "would be ignored PATH: REASON" (a dry run's foresight of one)
    Refused,        // "refused NAME: REASON"
    Removing,       // "removing PATH: N items removed so far" (an entry still being removed)
    Summary,        // "summary: ..."
    Other           // anything else: a message of the tool or of the elevation program
};

// The counts of a summary line.
struct RemovalCounts
{
    unsigned long removed = 0;
    unsigned long kept = 0;
    unsigned long missing = 0;
    unsigned long failed = 0;
    unsigned long wouldFail = 0;
    unsigned long ignored = 0;
};

struct RemovalLine
{
    RemovalLineKind kind = RemovalLineKind::Other;
    // As printed, that is escaped; unset for a summary or another line.
    TqString subject;
    TqString reason;
};

// The reason of an entry kept because the definition marks it to keep ("kept PATH: marked to keep").
extern const char kMarkedToKeepReason[];

// The line, without its newline, for kind about path; reason may be unset where the kind allows.
TqString FormatRemovalLine(RemovalLineKind kind, const TqString& path, const TqString& reason = TqString());
// The same line appended to line: for a writer that reuses one buffer for every line.
void AppendRemovalLine(std::string& line, RemovalLineKind kind, const TqString& path, const TqString& reason);

// The kind's word as the report writes it ("removed", "would fail"); empty for a summary or another line.
std::string RemovalLineWord(RemovalLineKind kind);

// Reads a line (without its newline) back.
RemovalLine ParseRemovalLine(const TqString& line);

// The line that says how far the removal of the entry at path is, count items inside it gone.
TqString RemovingLine(const TqString& path, unsigned long count);
// The count a "removing" line gives; 0 for any other line.
unsigned long RemovedInside(const RemovalLine& line);

// Why an entry the walk did not reach stays: "kept PATH: the removal was cancelled".
extern const char kCancelledReason[];

// Whether the kind stands for one entry handled: every per-entry report, not the summary nor a
// "removing" line.
bool IsEntryLine(RemovalLineKind kind);

// Whether the kind tells of something that stays against the product's will (failed, refused).
bool IsFailureLine(RemovalLineKind kind);

// The tool's word while another removal of the same target holds it back, before it removes
// anything: "waiting for another removal of TARGET" (TARGET escaped as the paths are).
TqString WaitingLine(const TqString& target);
// Whether a line (without its newline) is that word.
bool IsWaitingLine(const TqString& line);

#endif
