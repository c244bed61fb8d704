#include "ToolOutputTally.h"

#include <cstdio>
#include <cstring>

namespace
{

struct Prefix
{
    const char* text;
    ToolLineKind kind;
};

const Prefix kPrefixes[] = {
    {"removed ", ToolLineKind::Removed}, {"would remove ", ToolLineKind::WouldRemove},
    {"kept ", ToolLineKind::Kept},       {"missing ", ToolLineKind::Missing},
    {"failed ", ToolLineKind::Failed},   {"refused ", ToolLineKind::Refused},
};

} // namespace

ToolLine ParseToolLine(const TqString& line)
{
    ToolLine parsed;
    if (std::strncmp(line.ConstData(), "summary:", 8) == 0)
    {
        parsed.kind = ToolLineKind::Summary;
        return parsed;
    }
    for (const Prefix& prefix : kPrefixes)
    {
        const unsigned long length = std::strlen(prefix.text);
        if (line.Size() <= length || std::strncmp(line.ConstData(), prefix.text, length) != 0)
            continue;
        TqString subject = line.Substr(length, TqString::maxLen);
        if (prefix.kind == ToolLineKind::Failed || prefix.kind == ToolLineKind::Refused)
        {
            const unsigned long reason = subject.IndexLastOf(": ");
            if (reason == TqString::maxLen)
                return parsed;
            subject = subject.Substr(0, reason);
        }
        parsed.kind = prefix.kind;
        parsed.subject = subject;
        return parsed;
    }
    return parsed;
}

bool IsEntryLine(ToolLineKind kind)
{
    return kind != ToolLineKind::Summary && kind != ToolLineKind::Other;
}

unsigned long CountInstallEntries(const FileNode& root)
{
    unsigned long count = 0;
    for (const auto& child : root.children)
    {
        const FileNode& node = child.second;
        count += 1 + CountInstallEntries(node);
        if (!node.isDirectory && node.shortCut.name.IsSet())
            ++count;
    }
    return count;
}

void ToolOutputTally::Feed(const char* bytes, unsigned long count)
{
    for (unsigned long index = 0; index < count; ++index)
    {
        if (bytes[index] == '\n')
            TakeLine();
        else if (pending.size() < kMaxLineBytes)
            pending.push_back(bytes[index]);
        else
            pendingCut = true;
    }
}

void ToolOutputTally::Finish()
{
    if (!pending.empty())
        TakeLine();
}

void ToolOutputTally::TakeLine()
{
    TqString line(pending.data(), static_cast<unsigned long>(pending.size()));
    pending.clear();
    // A cut line is no report of the tool's; count it as nothing.
    if (pendingCut)
    {
        pendingCut = false;
        return;
    }
    ToolLine parsed = ParseToolLine(line);
    if (!IsEntryLine(parsed.kind))
        return;
    ++entriesHandled;
    currentPath = parsed.subject;
    if (parsed.kind != ToolLineKind::Failed && parsed.kind != ToolLineKind::Refused)
        return;
    if (failureLines.size() < kKeptFailureLines)
        failureLines.push_back(line);
    else
        ++moreFailures;
}

TqString ToolOutputTally::FailureDetails() const
{
    TqString details;
    for (const TqString& line : failureLines)
    {
        if (details.IsSet())
            details += "\n";
        details += line;
    }
    if (moreFailures > 0)
    {
        char more[64];
        std::snprintf(more, sizeof more, "\n... and %lu more", moreFailures);
        details += more;
    }
    return details;
}
