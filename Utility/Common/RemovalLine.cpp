#include "RemovalLine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "LineEscaping.h"

namespace
{

struct Word
{
    const char* text;
    RemovalLineKind kind;
    bool needsReason;
};

// In the order they are tried: no word is the start of a later one.
const Word kWords[] = {
    {"removed ", RemovalLineKind::Removed, false},
    {"would remove ", RemovalLineKind::WouldRemove, false},
    {"kept ", RemovalLineKind::Kept, false},
    {"missing ", RemovalLineKind::Missing, false},
    {"failed ", RemovalLineKind::Failed, true},
    {"would fail ", RemovalLineKind::WouldFail, true},
    {"ignored ", RemovalLineKind::Ignored, true},
    {"refused ", RemovalLineKind::Refused, true},
    {"would be ignored ", RemovalLineKind::WouldBeIgnored, true},
    {"removing ", RemovalLineKind::Removing, true},
};

const char kSeparator[] = ": ";
const char kWaitingWords[] = "waiting for another removal of ";
const char kRemovingCountWords[] = " items removed so far";

} // namespace

const char kCancelledReason[] = "the removal was cancelled";
const char kMarkedToKeepReason[] = "marked to keep";

void AppendRemovalLine(std::string& line, RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    const Word* word = std::find_if(std::begin(kWords), std::end(kWords), [kind](const Word& w) { return w.kind == kind; });
    if (word == std::end(kWords))
        return AppendEscapedLineText(line, reason.ConstData(), reason.Size());
    line += word->text;
    const size_t pathStart = line.size();
    AppendEscapedLineText(line, path.ConstData(), path.Size());
    for (size_t colon = line.find(kSeparator, pathStart); colon != std::string::npos;
         colon = line.find(kSeparator, colon + 1))
        line.replace(colon + 1, 1, "\\x20");
    if (reason.IsSet())
    {
        line += kSeparator;
        AppendEscapedLineText(line, reason.ConstData(), reason.Size());
    }
}

TqString FormatRemovalLine(RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    std::string line;
    AppendRemovalLine(line, kind, path, reason);
    return TqString(line.data(), static_cast<unsigned long>(line.size()));
}

std::string RemovalLineWord(RemovalLineKind kind)
{
    for (const Word& word : kWords)
        if (word.kind == kind)
            return std::string(word.text, std::strlen(word.text) - 1);
    return std::string();
}

RemovalLine ParseRemovalLine(const TqString& line)
{
    RemovalLine parsed;
    if (std::strncmp(line.ConstData(), "summary:", 8) == 0)
    {
        parsed.kind = RemovalLineKind::Summary;
        return parsed;
    }
    for (const Word& word : kWords)
    {
        const unsigned long length = std::strlen(word.text);
        if (line.Size() <= length || std::strncmp(line.ConstData(), word.text, length) != 0)
            continue;
        const char* rest = line.ConstData() + length;
        const char* separator =
            static_cast<const char*>(memmem(rest, line.Size() - length, kSeparator, sizeof kSeparator - 1));
        if (separator == nullptr && word.needsReason)
            return parsed;
        parsed.kind = word.kind;
        const char* end = line.ConstData() + line.Size();
        parsed.subject = TqString(rest, static_cast<unsigned long>((separator ? separator : end) - rest));
        if (separator != nullptr)
            parsed.reason = TqString(separator + 2, static_cast<unsigned long>(end - separator - 2));
        return parsed;
    }
    return parsed;
}

TqString RemovingLine(const TqString& path, unsigned long count)
{
    const std::string counted = std::to_string(count) + kRemovingCountWords;
    return FormatRemovalLine(RemovalLineKind::Removing, path, TqString(counted.c_str()));
}

unsigned long RemovedInside(const RemovalLine& line)
{
    if (line.kind != RemovalLineKind::Removing)
        return 0;
    return std::strtoul(line.reason.ConstData(), nullptr, 10);
}

bool IsEntryLine(RemovalLineKind kind)
{
    return kind != RemovalLineKind::Summary && kind != RemovalLineKind::Other &&
           kind != RemovalLineKind::Removing;
}

bool IsFailureLine(RemovalLineKind kind)
{
    return kind == RemovalLineKind::Failed || kind == RemovalLineKind::Refused;
}

TqString WaitingLine(const TqString& target)
{
    return TqString(kWaitingWords) + EscapeLineText(target);
}

bool IsWaitingLine(const TqString& line)
{
    return line.Size() > std::strlen(kWaitingWords) &&
           std::strncmp(line.ConstData(), kWaitingWords, std::strlen(kWaitingWords)) == 0;
}
