#ifndef TQ_REMOVALREPORT_H
#define TQ_REMOVALREPORT_H

#include <cstdio>
#include <string>

#include "RemovalLine.h"
#include "TqString.h"

// What the removal tells about each entry, and the counts for its summary. With verbose, every
// entry gets a line on out and the summary follows; otherwise only failures, refusals and ignored
// errors are written, on errors. How soon a line reaches out depends on who reads it: on a
// terminal each line is flushed as it is written; into a pipe or socket (the uninstaller's
// progress, redrawn at most ten times a second) the lines are flushed at least every
// pipeFlushMilliseconds and before a step that may take long; into a file they are written in
// blocks, one system call for many entries. Summary writes out the rest. Every printed name is
// escaped to stay on its one line.
class RemovalReport
{
public:
    using Counts = RemovalCounts;

    // How entries are told: as lines (verbose decides which and where), as one JSON object per
    // entry on out (RemovalJson), or not at all (only counted).
    enum class Form
    {
        Lines,
        Json,
        CountsOnly
    };

    // Who reads the entries' lines, by what out is; it decides how soon each line is flushed.
    enum class Reader
    {
        Person,   // a terminal
        Progress, // a pipe or a socket
        Later,    // a file, or nothing (/dev/null)
    };

    // A dry run says "would remove" where a real one says "removed", "would fail" for "failed",
    // "would be ignored" for "ignored".
    RemovalReport(bool verbose, bool dryRun, FILE* out, FILE* errors);

    void Removed(const TqString& path);
    // why: unset for a plain "kept PATH", else the reason the entry stays.
    void Kept(const TqString& path, const TqString& why = TqString());
    void Missing(const TqString& path);
    // A failure fails the run unless ignored (the entry's ignoreinstallerrors): then it is
    // reported "ignored" and counted apart.
    void Failed(const TqString& path, const TqString& reason, bool ignored);
    // What the guard would not even try, name as the definition gives it: it fails the run.
    void Refused(const TqString& name, const TqString& reason);
    // How far the removal of the entry at path is, while it goes on: a "removing" line, written
    // only in the verbose lines of a real removal (its reader shows it as progress).
    void Removing(const TqString& path, unsigned long removedInside);
    void SetForm(Form chosen) { form = chosen; }
    // The summary line (with verbose, as lines); then whatever is still held is written out.
    void Summary();
    // Writes out the lines held for a pipe, before a step that may take long (a bundle emptied
    // whole), so that its reader is not left behind while the tool is quiet.
    void FlushHeld();

    // How long a line may wait for the next one before it is flushed into a pipe.
    static constexpr long pipeFlushMilliseconds = 50;
    // The counts as the summary and the system log give them: "N removed, N kept, ...".
    static std::string CountsText(const Counts& counts, bool dryRun);

    const Counts& GetCounts() const { return counts; }
    // Whether a failure that was not ignored, or a refusal, was reported, or the verbose output
    // could not be written.
    bool RunFailed() const { return runFailed || outputFailed; }

private:
    void entryLine(RemovalLineKind kind, const TqString& path, const TqString& reason = TqString());
    // A line that verbose alone does not silence: a failure, a refusal, an ignored error.
    void problemLine(RemovalLineKind kind, const TqString& path, const TqString& reason);
    void write(FILE* stream, const TqString& line);
    void write(FILE* stream, const std::string& line);
    // Notes that out could not be written, once, on errors.
    void outputFailedWith(int error);

    bool verbose;
    bool dryRun;
    Form form = Form::Lines;
    FILE* out;
    FILE* errors;
    Counts counts;
    bool runFailed = false;
    bool outputFailed = false;
    // Who reads out, and when its lines were last flushed (monotonic milliseconds).
    Reader reader;
    long lastFlush = 0;
    bool held = false;
    // The line being written, its buffer kept from one line to the next.
    std::string lineText;
};

#endif
