#include "RemovalReport.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "RemovalJson.h"

RemovalReport::RemovalReport(bool verbose, bool dryRun, FILE* out, FILE* errors)
    : verbose(verbose), dryRun(dryRun), out(out), errors(errors)
{
}

void RemovalReport::Removed(const TqString& path)
{
    ++counts.removed;
    entryLine(dryRun ? RemovalLineKind::WouldRemove : RemovalLineKind::Removed, path);
}

void RemovalReport::Kept(const TqString& path, const TqString& why)
{
    ++counts.kept;
    entryLine(RemovalLineKind::Kept, path, why);
}

void RemovalReport::Missing(const TqString& path)
{
    ++counts.missing;
    entryLine(RemovalLineKind::Missing, path);
}

void RemovalReport::Failed(const TqString& path, const TqString& reason, bool ignored)
{
    const RemovalLineKind kind = ignored
                                     ? (dryRun ? RemovalLineKind::WouldBeIgnored : RemovalLineKind::Ignored)
                                 : dryRun ? RemovalLineKind::WouldFail
                                          : RemovalLineKind::Failed;
    ++(ignored ? counts.ignored : dryRun ? counts.wouldFail : counts.failed);
    runFailed = runFailed || !ignored;
    problemLine(kind, path, reason);
}

void RemovalReport::Refused(const TqString& name, const TqString& reason)
{
    ++counts.failed;
    runFailed = true;
    problemLine(RemovalLineKind::Refused, name, reason);
}

void RemovalReport::Removing(const TqString& path, unsigned long removedInside)
{
    if (form == Form::Lines && verbose && !dryRun)
        write(out, RemovingLine(path, removedInside));
}

std::string RemovalReport::CountsText(const Counts& counts, bool dryRun)
{
    const auto n = [](unsigned long count) { return std::to_string(count); };
    std::string text = n(counts.removed) + (dryRun ? " would be removed, " : " removed, ") + n(counts.kept) +
                       " kept, " + n(counts.missing) + " missing, ";
    if (dryRun)
        text += n(counts.wouldFail) + " would fail, ";
    return text + n(counts.failed) + " failed, " + n(counts.ignored) +
           (dryRun ? " would be ignored" : " ignored");
}

void RemovalReport::Summary()
{
    if (!verbose || form != Form::Lines)
        return;
    const std::string text = "summary: " + CountsText(counts, dryRun);
    write(out, TqString(text.data(), text.size()));
}

void RemovalReport::entryLine(RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    if (form == Form::Json)
        write(out, TqString(RemovalJson::EntryObject(kind, path, reason).c_str()));
    else if (form == Form::Lines && verbose)
        write(out, FormatRemovalLine(kind, path, reason));
}

void RemovalReport::problemLine(RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    if (form == Form::Lines && !verbose)
        write(errors, FormatRemovalLine(kind, path, reason));
    else
        entryLine(kind, path, reason);
}

void RemovalReport::write(FILE* stream, const TqString& line)
{
    // Once the report cannot be written, the rest of it would only be cut further.
    if (stream == out && outputFailed)
        return;
    if (fprintf(stream, "%s\n", line.ConstData()) >= 0 && fflush(stream) == 0 && ferror(stream) == 0)
        return;
    if (stream != out)
        return; // the errors stream is the last resort: nothing is left to tell
    const int error = errno;
    outputFailed = true;
    (void)fprintf(errors, "cannot write the removal report: %s\n", strerror(error));
    (void)fflush(errors);
}
