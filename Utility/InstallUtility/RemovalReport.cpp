#include "RemovalReport.h"

#include "LineEscaping.h"

RemovalReport::RemovalReport(bool verbose, bool dryRun, FILE* out, FILE* errors)
    : verbose(verbose), dryRun(dryRun), out(out), errors(errors)
{
}

void RemovalReport::Removed(const TqString& path)
{
    ++counts.removed;
    entryLine(dryRun ? "would remove" : "removed", path);
}

void RemovalReport::Kept(const TqString& path)
{
    ++counts.kept;
    entryLine("kept", path);
}

void RemovalReport::Missing(const TqString& path)
{
    ++counts.missing;
    entryLine("missing", path);
}

void RemovalReport::Failed(const Failure& failure, bool ignored)
{
    ++counts.failed;
    if (!ignored)
        runFailed = true;
    // A reason may carry a name from disk (the first thing a bundle could not lose).
    fprintf(verbose ? out : errors, "failed %s: %s%s\n", EscapeLineText(failure.path).ConstData(),
            EscapeLineText(failure.reason).ConstData(), ignored ? " (ignored)" : "");
}

void RemovalReport::Refused(const Failure& refusal)
{
    ++counts.failed;
    runFailed = true;
    fprintf(verbose ? out : errors, "refused %s: %s\n", EscapeLineText(refusal.path).ConstData(),
            EscapeLineText(refusal.reason).ConstData());
}

void RemovalReport::Summary()
{
    if (verbose)
        fprintf(out, "summary: %lu %s, %lu kept, %lu missing, %lu failed\n", counts.removed,
                dryRun ? "would be removed" : "removed", counts.kept, counts.missing, counts.failed);
    fflush(out);
}

void RemovalReport::entryLine(const char* word, const TqString& path)
{
    if (verbose)
        fprintf(out, "%s %s\n", word, EscapeLineText(path).ConstData());
}
