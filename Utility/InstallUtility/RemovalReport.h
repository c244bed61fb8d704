#ifndef TQ_REMOVALREPORT_H
#define TQ_REMOVALREPORT_H

#include <cstdio>
#include <string>

#include "RemovalLine.h"
#include "TqString.h"

// What the removal tells about each entry, and the counts for its summary. With verbose, every
// entry gets a line on out and the summary follows; otherwise only failures, refusals and ignored
// errors are written, on errors. Each line is flushed as it is written, so that a reader of a
// pipe sees the removal as it goes. Every printed name is escaped to stay on its one line.
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
    // The summary line (with verbose, as lines).
    void Summary();
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

    bool verbose;
    bool dryRun;
    Form form = Form::Lines;
    FILE* out;
    FILE* errors;
    Counts counts;
    bool runFailed = false;
    bool outputFailed = false;
};

#endif
