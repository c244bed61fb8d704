#ifndef TQ_REMOVALREPORT_H
#define TQ_REMOVALREPORT_H

#include <cstdio>

#include "Failure.h"
#include "RemovalLine.h"
#include "TqString.h"

// What the removal tells about each entry, and the counts for its summary. With verbose, every
// entry gets a line on out and the summary follows; otherwise only failures and refusals are
// written, on errors. Every printed name is escaped to stay on its one line.
class RemovalReport
{
public:
    struct Counts
    {
        unsigned long removed = 0;
        unsigned long kept = 0;
        unsigned long missing = 0;
        unsigned long failed = 0;
    };

    // A dry run says "would remove" where a real one says "removed".
    RemovalReport(bool verbose, bool dryRun, FILE* out, FILE* errors);

    void Removed(const TqString& path);
    void Kept(const TqString& path);
    void Missing(const TqString& path);
    // A failure fails the run unless ignored (the entry's ignoreInstallErrors); it counts either way.
    void Failed(const Failure& failure, bool ignored);
    // What the guard would not even try, the refused name as the failure's path: it fails the run.
    void Refused(const Failure& refusal);
    // The summary line (with verbose), after which out is flushed.
    void Summary();

    const Counts& GetCounts() const { return counts; }
    // Whether a failure that was not ignored, or a refusal, was reported.
    bool RunFailed() const { return runFailed; }

private:
    void entryLine(RemovalLineKind kind, const TqString& path);

    bool verbose;
    bool dryRun;
    FILE* out;
    FILE* errors;
    Counts counts;
    bool runFailed = false;
};

#endif
