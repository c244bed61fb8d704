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

// The first lines of one sort, and how many more there were.
class KeptLines
{
public:
    static const unsigned long kLimit = 100;

    void Add(const TqString& line);
    const Vector<TqString>& Lines() const { return lines; }
    unsigned long More() const { return more; }
    // Adds the kept lines to text, one per line, and "... and N more" when there were more.
    void AppendTo(TqString& text) const;

private:
    Vector<TqString> lines;
    unsigned long more = 0;
};

// Follows the tool's output (standard output and error in one stream) as it arrives in pieces of
// any size: counts the entries handled, keeps the path handled last, and keeps what the user is
// shown afterwards: the failed and refused lines, the kept and ignored lines, a dry run's "would
// remove" lines, and the other lines
// (the tool's or the elevation program's messages).
class ToolOutputTally
{
public:
    // Longer lines are cut to this many bytes and "…", so output without newlines never piles up
    // in memory, and a long failure still names its entry.
    static const unsigned long kMaxLineBytes = 4096;

    void Feed(const char* bytes, unsigned long count);
    // Takes a last line that had no newline.
    void Finish();

    // Paths under target are shown relative to it in the activity (target as the tool prints paths).
    void SetTarget(const TqString& shownTarget) { target = shownTarget; }

    unsigned long EntriesHandled() const { return entriesHandled; }
    // How many entries the tool reported removed.
    unsigned long EntriesRemoved() const { return entriesRemoved; }
    // The entry being removed now, when the tool said how far it is inside it ("removing" lines)
    // and has not reported it since: "Plug-Ins/Big.bundle — 12,480 items removed"; else unset.
    TqString Activity() const;
    // The path handled last; before the first entry, the tool's last message.
    const TqString& CurrentPath() const { return currentPath; }
    // Goes up whenever the count, the current path or the activity changes: when the progress is worth redrawing.
    unsigned long Changes() const { return changes; }
    const KeptLines& Failures() const { return failures; }
    const KeptLines& Keeps() const { return keeps; }
    // The last message line; unset when there was none.
    const TqString& LastMessage() const { return lastMessage; }

    // For the failure report: the failed and refused lines, what was kept (the installed
    // uninstaller among it, kept so that it can run again), then the messages; unset when none.
    TqString FailureDetails() const;
    // For the completion report: what was kept and why, and what failed but was let pass.
    TqString KeptDetails() const;
    // For a run that removed nothing: the messages that say why.
    TqString MessageDetails() const;
    // For a dry run: the messages first (what the run would need), then what would fail, what
    // would be removed and what would be kept.
    TqString DryRunDetails() const;

private:
    // Takes the pending line: a progress word, a message, or an entry's line.
    void TakeLine();
    // A line that tells of no entry: the tool's or an elevation program's own words.
    void TakeMessage(const TqString& line);
    // A line that tells what became of one entry.
    // Takes the parsed line's subject.
    void TakeEntry(RemovalLine& parsed, const TqString& line);

    std::string pending;
    bool pendingCut = false;
    unsigned long entriesHandled = 0;
    unsigned long entriesRemoved = 0;
    TqString currentPath;
    TqString target;
    TqString activePath;
    unsigned long removedInside = 0;
    unsigned long changes = 0;
    KeptLines failures;
    KeptLines keeps;
    KeptLines removals;
    KeptLines messages;
    TqString lastMessage;
};

#endif
