#ifndef TQ_TOOLOUTPUTTALLY_H
#define TQ_TOOLOUTPUTTALLY_H

#include <string>

#include "FileNode.h"
#include "TqString.h"
#include "Vector.h"

// What one line of the removal tool's -v output reports.
enum class ToolLineKind
{
    Removed,     // "removed PATH"
    WouldRemove, // "would remove PATH" (a dry run)
    Kept,        // "kept PATH"
    Missing,     // "missing PATH"
    Failed,      // "failed PATH: REASON"
    Refused,     // "refused NAME: REASON"
    Summary,     // "summary: ..."
    Other        // anything else (a message of the elevation program, say)
};

struct ToolLine
{
    ToolLineKind kind = ToolLineKind::Other;
    // The path or name the line is about, as the tool printed it (already escaped); unset for a
    // summary or an unknown line.
    TqString subject;
};

// Reads one line (without its newline). A failed or refused line's subject ends at its last ": ",
// since the reasons the tool gives never hold one.
ToolLine ParseToolLine(const TqString& line);

// Whether the line stands for one entry handled: every per-entry report, not the summary.
bool IsEntryLine(ToolLineKind kind);

// How many lines the tool prints for an install-file tree when it runs: one per directory and
// file below root, and one more for each shortcut a file asks for.
unsigned long CountInstallEntries(const FileNode& root);

// Follows the tool's output as it arrives in pieces of any size: counts the entries handled,
// keeps the path handled last, and keeps the first failed and refused lines for the failure report.
class ToolOutputTally
{
public:
    static const unsigned long kKeptFailureLines = 100;
    // Longer lines are cut to this many bytes, so output without newlines never piles up in memory.
    static const unsigned long kMaxLineBytes = 4096;

    void Feed(const char* bytes, unsigned long count);
    // Takes a last line that had no newline.
    void Finish();

    unsigned long EntriesHandled() const { return entriesHandled; }
    const TqString& CurrentPath() const { return currentPath; }
    const Vector<TqString>& FailureLines() const { return failureLines; }
    // Failed and refused lines beyond the kept ones.
    unsigned long MoreFailures() const { return moreFailures; }
    // The kept failure lines, one per line, and "... and N more" when there were more; unset when
    // nothing failed.
    TqString FailureDetails() const;

private:
    void TakeLine();

    std::string pending;
    bool pendingCut = false;
    unsigned long entriesHandled = 0;
    TqString currentPath;
    Vector<TqString> failureLines;
    unsigned long moreFailures = 0;
};

#endif
