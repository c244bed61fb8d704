#include "ToolOutputTally.h"

#include <cstdio>
#include <cstring>

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
    const RemovalLine parsed = ParseRemovalLine(line);
    if (!IsEntryLine(parsed.kind))
        return;
    ++entriesHandled;
    currentPath = parsed.subject;
    if (!IsFailureLine(parsed.kind))
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
