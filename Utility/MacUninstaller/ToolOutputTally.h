#ifndef TQ_TOOLOUTPUTTALLY_H
#define TQ_TOOLOUTPUTTALLY_H

#include <string>

#include "FileNode.h"
#include "RemovalLine.h"
#include "TqString.h"
#include "Vector.h"

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
