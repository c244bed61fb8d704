#include "JsonResult.h"

#include "LineEscaping.h"
#include "RemovalLine.h"

namespace
{

// A line longer than this is no line of the tool's; it is cut rather than held without end.
const size_t kLongestLine = 65536;

// The outcome that goes with each exit status of Uninstall.
const char* OutcomeOf(int status)
{
    static const char* const outcomes[] = {"removed",   "failed",    "nothing removed",
                                           "no rights", "cancelled", "not found"};
    return status >= 0 && status < 6 ? outcomes[status] : "unknown";
}

// The summary's count that an entry line of this kind adds to.
void CountEntry(RemovalCounts& counts, RemovalLineKind kind)
{
    switch (kind)
    {
    case RemovalLineKind::Removed:
    case RemovalLineKind::WouldRemove:
        ++counts.removed;
        break;
    case RemovalLineKind::Kept:
        ++counts.kept;
        break;
    case RemovalLineKind::Missing:
        ++counts.missing;
        break;
    case RemovalLineKind::WouldFail:
        ++counts.wouldFail;
        break;
    case RemovalLineKind::Ignored:
    case RemovalLineKind::WouldBeIgnored:
        ++counts.ignored;
        break;
    default:
        ++counts.failed;
        break;
    }
}

} // namespace

void JsonResult::SetProduct(const TqString& name, const TqString& id, const TqString& build)
{
    closing.productName = name;
    closing.productId = id;
    closing.productBuild = build;
}

void JsonResult::Feed(const char* bytes, unsigned long count)
{
    for (unsigned long index = 0; index < count; ++index)
    {
        if (bytes[index] == '\n')
            takeLine();
        else if (pending.size() < kLongestLine)
            pending.push_back(bytes[index]);
    }
}

void JsonResult::Finish()
{
    if (!pending.empty())
        takeLine();
}

void JsonResult::takeLine()
{
    const TqString line(pending.data(), static_cast<unsigned long>(pending.size()));
    pending.clear();
    const RemovalLine parsed = ParseRemovalLine(line);
    if (parsed.kind == RemovalLineKind::Summary)
        return;
    if (!IsEntryLine(parsed.kind))
    {
        if (line.IsSet() && closing.messages.size() < 100)
            closing.messages.push_back(line.ConstData());
        return;
    }
    closing.hasSummary = true;
    CountEntry(closing.counts, parsed.kind);
    (void)std::fprintf(out, "%s\n",
                       RemovalJson::EntryObject(parsed.kind, UnescapeLineText(parsed.subject),
                                                UnescapeLineText(parsed.reason))
                           .c_str());
    (void)std::fflush(out);
}

void JsonResult::Close(int status)
{
    closing.status = status;
    closing.outcome = OutcomeOf(status);
    (void)std::fprintf(out, "%s\n", RemovalJson::ClosingObject(closing).c_str());
    (void)std::fflush(out);
}
