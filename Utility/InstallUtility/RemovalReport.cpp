#include "RemovalReport.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "CoarseClock.h"
#include "RemovalJson.h"

namespace
{

// A terminal is read by a person as it comes, a pipe or socket by a program (the uninstaller's
// progress); a file, or /dev/null, is read (if ever) after the run, so a line flushed at once
// would only cost a system call.
RemovalReport::Reader readerOf(FILE* stream)
{
    const int fd = stream != nullptr ? fileno(stream) : -1;
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || isatty(fd))
        return RemovalReport::Reader::Person;
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))
        return RemovalReport::Reader::Progress;
    return RemovalReport::Reader::Later;
}

} // namespace

RemovalReport::RemovalReport(bool isVerbose, bool isDryRun, FILE* output, FILE* errorOutput)
    : verbose(isVerbose), dryRun(isDryRun), out(output), errors(errorOutput), reader(readerOf(output))
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
    if (verbose && form == Form::Lines)
    {
        const std::string text = "summary: " + CountsText(counts, dryRun);
        write(out, text);
    }
    held = true;
    FlushHeld();
}

void RemovalReport::FlushHeld()
{
    if (!held || outputFailed)
        return;
    held = false;
    lastFlush = CoarseMilliseconds();
    if (fflush(out) != 0 || ferror(out) != 0)
        outputFailedWith(errno);
}

void RemovalReport::entryLine(RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    if (form == Form::Json)
        write(out, RemovalJson::EntryObject(kind, path, reason));
    else if (form == Form::Lines && verbose)
    {
        lineText.clear();
        AppendRemovalLine(lineText, kind, path, reason);
        write(out, lineText);
    }
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
    write(stream, std::string(line.ConstData(), line.Size()));
}

void RemovalReport::write(FILE* stream, const std::string& line)
{
    // Once the report cannot be written, the rest of it would only be cut further.
    if (stream == out && outputFailed)
        return;
    if (stream != out)
    {
        // The errors stream is the last resort: nothing is left to tell when it fails.
        (void)fprintf(stream, "%s\n", line.c_str());
        (void)fflush(stream);
        return;
    }
    // A write that fails while lines are held shows here too: the block is written by this call.
    if (fwrite(line.data(), 1, line.size(), out) != line.size() || putc('\n', out) == EOF || ferror(out) != 0)
        return outputFailedWith(errno);
    held = true;
    if (reader == Reader::Person ||
        (reader == Reader::Progress && CoarseMilliseconds() - lastFlush >= pipeFlushMilliseconds))
        FlushHeld();
}

void RemovalReport::outputFailedWith(int error)
{
    outputFailed = true;
    (void)fprintf(errors, "cannot write the removal report: %s\n", strerror(error));
    (void)fflush(errors);
}
