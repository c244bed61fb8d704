#include "ToolOutputTally.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

const char kEllipsis[] = "\xE2\x80\xA6";

// The length of the first limit bytes of text, less a UTF-8 sequence the cut would split.
size_t CutLength(const std::string& text, size_t limit)
{
    size_t length = text.size() < limit ? text.size() : limit;
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

} // namespace

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

void KeptLines::Add(const TqString& line)
{
    if (lines.size() < kLimit)
        lines.push_back(line);
    else
        ++more;
}

void KeptLines::AppendTo(TqString& text) const
{
    for (const TqString& line : lines)
    {
        if (text.IsSet())
            text += "\n";
        text += line;
    }
    if (more > 0)
    {
        char count[64];
        (void)std::snprintf(count, sizeof count, "... and %lu more", more);
        if (text.IsSet())
            text += "\n";
        text += count;
    }
}

void ToolOutputTally::Feed(const char* bytes, unsigned long count)
{
    const char* const end = bytes + count;
    while (bytes < end)
    {
        const char* newline = static_cast<const char*>(memchr(bytes, '\n', static_cast<size_t>(end - bytes)));
        const size_t run = static_cast<size_t>((newline ? newline : end) - bytes);
        // One byte more than the limit is held, so that a line of exactly the limit is not taken as cut.
        const size_t held = kMaxLineBytes + 1;
        const size_t room = held - std::min(pending.size(), held);
        pending.insert(pending.end(), bytes, bytes + std::min(run, room));
        pendingCut = pendingCut || run > room;
        if (!newline)
            return;
        TakeLine();
        bytes = newline + 1;
    }
}

void ToolOutputTally::Finish()
{
    if (!pending.empty())
        TakeLine();
}

void ToolOutputTally::TakeLine()
{
    // One byte more than the limit is held, so a line of exactly the limit is not taken as cut.
    const bool cut = pendingCut || pending.size() > kMaxLineBytes;
    if (cut)
        pending.resize(CutLength(pending, kMaxLineBytes));
    TqString line(pending.data(), static_cast<unsigned long>(pending.size()));
    pending.clear();
    pendingCut = false;
    // A cut line has lost its reason; read its kind and path as if the reason followed.
    RemovalLine parsed = cut ? ParseRemovalLine(line + ": ") : ParseRemovalLine(line);
    if (cut)
        line += kEllipsis;
    if (parsed.kind == RemovalLineKind::Summary)
        return;
    if (parsed.kind == RemovalLineKind::Removing)
    {
        activePath = parsed.subject;
        removedInside = RemovedInside(parsed);
        ++changes;
        return;
    }
    if (parsed.kind == RemovalLineKind::Other)
        TakeMessage(line);
    else
        TakeEntry(parsed, line);
}

void ToolOutputTally::TakeMessage(const TqString& line)
{
    if (line.IsEmpty())
        return;
    messages.Add(line);
    lastMessage = line;
    // Before the first entry the tool's word is what there is to show ("waiting for another
    // removal of ...").
    if (entriesHandled == 0)
    {
        currentPath = line;
        ++changes;
    }
}

void ToolOutputTally::TakeEntry(RemovalLine& parsed, const TqString& line)
{
    ++entriesHandled;
    ++changes;
    currentPath = std::move(parsed.subject);
    activePath.Clear();
    if (parsed.kind == RemovalLineKind::Removed)
        ++entriesRemoved;
    if (IsFailureLine(parsed.kind) || parsed.kind == RemovalLineKind::WouldFail)
        failures.Add(line);
    else if (parsed.kind == RemovalLineKind::WouldRemove)
        removals.Add(line);
    // A kept entry is worth telling when the tool says why (marked to keep, holds what the product
    // did not install, kept so the uninstall can run again).
    else if ((parsed.kind == RemovalLineKind::Kept && parsed.reason.IsSet()) ||
             parsed.kind == RemovalLineKind::Ignored || parsed.kind == RemovalLineKind::WouldBeIgnored)
        keeps.Add(line);
}

TqString ToolOutputTally::Activity() const
{
    if (!activePath.IsSet())
        return TqString();
    TqString path = activePath;
    const TqString under = target + "/";
    if (target.IsSet() && path.Size() > under.Size() && path.Substr(0, under.Size()) == under)
        path = path.Substr(under.Size(), TqString::maxLen);
    // Grouped by thousands, as a person reads a count that keeps moving.
    std::string count = std::to_string(removedInside);
    for (size_t digits = count.size(); digits > 3; digits -= 3)
        count.insert(digits - 3, ",");
    return path + " \xE2\x80\x94 " + count.c_str() + (removedInside == 1 ? " item removed" : " items removed");
}

TqString ToolOutputTally::FailureDetails() const
{
    TqString details;
    failures.AppendTo(details);
    keeps.AppendTo(details);
    messages.AppendTo(details);
    return details;
}

TqString ToolOutputTally::KeptDetails() const
{
    TqString details;
    keeps.AppendTo(details);
    return details;
}

TqString ToolOutputTally::DryRunDetails() const
{
    TqString details;
    messages.AppendTo(details);
    failures.AppendTo(details);
    removals.AppendTo(details);
    keeps.AppendTo(details);
    return details;
}

TqString ToolOutputTally::MessageDetails() const
{
    TqString details;
    messages.AppendTo(details);
    return details;
}
