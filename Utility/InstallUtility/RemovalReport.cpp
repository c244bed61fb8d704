#include "RemovalReport.h"

#include "RemovalLine.h"

RemovalReport::RemovalReport(bool verbose, bool dryRun, FILE* out, FILE* errors)
    : verbose(verbose), dryRun(dryRun), out(out), errors(errors)
{
}

void RemovalReport::Removed(const TqString& path)
{
    ++counts.removed;
    entryLine(dryRun ? RemovalLineKind::WouldRemove : RemovalLineKind::Removed, path);
}

void RemovalReport::Kept(const TqString& path)
{
    ++counts.kept;
    entryLine(RemovalLineKind::Kept, path);
}

void RemovalReport::Missing(const TqString& path)
{
    ++counts.missing;
    entryLine(RemovalLineKind::Missing, path);
}

void RemovalReport::Failed(const Failure& failure, bool ignored)
{
    ++counts.failed;
    if (!ignored)
        runFailed = true;
    // A reason may carry a name from disk (the first thing a bundle could not lose).
    const TqString reason = ignored ? failure.reason + " (ignored)" : failure.reason;
    fprintf(verbose ? out : errors, "%s\n",
            FormatRemovalLine(RemovalLineKind::Failed, failure.path, reason).ConstData());
}

void RemovalReport::Refused(const Failure& refusal)
{
    ++counts.failed;
    runFailed = true;
    fprintf(verbose ? out : errors, "%s\n",
            FormatRemovalLine(RemovalLineKind::Refused, refusal.path, refusal.reason).ConstData());
}

void RemovalReport::Summary()
{
    if (verbose)
        fprintf(out, "summary: %lu %s, %lu kept, %lu missing, %lu failed\n", counts.removed,
                dryRun ? "would be removed" : "removed", counts.kept, counts.missing, counts.failed);
    fflush(out);
}

void RemovalReport::entryLine(RemovalLineKind kind, const TqString& path)
{
    if (verbose)
        fprintf(out, "%s\n", FormatRemovalLine(kind, path).ConstData());
}
