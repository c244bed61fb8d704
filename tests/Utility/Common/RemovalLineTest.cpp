#include <gtest/gtest.h>

#include "LineEscaping.h"
#include "RemovalLine.h"

// Every kind written by the tool reads back as the same kind, path and reason, whatever the
// names hold: ": " in a path, a newline, a backslash, bytes that are not UTF-8.
TEST(RemovalLine, EveryKindReadsBackAsWritten)
{
    const RemovalLineKind kinds[] = {
        RemovalLineKind::Removed, RemovalLineKind::WouldRemove, RemovalLineKind::Kept,
        RemovalLineKind::Missing, RemovalLineKind::Failed,      RemovalLineKind::WouldFail,
        RemovalLineKind::Ignored, RemovalLineKind::Refused,     RemovalLineKind::WouldBeIgnored};
    const TqString paths[] = {"/t/a b", "/t/X.app: Contents", "/t/line\nbreak", "/t/back\\slash",
                              TqString("/t/\xff\xfe", 6)};
    const TqString reasons[] = {"Permission denied", "Contents/x: Permission denied: twice"};
    for (RemovalLineKind kind : kinds)
        for (const TqString& path : paths)
            for (const TqString& reason : reasons)
            {
                const TqString line = FormatRemovalLine(kind, path, reason);
                SCOPED_TRACE(line.ConstData());
                EXPECT_EQ(line.IndexOf("\n", 0), TqString::maxLen);
                const RemovalLine parsed = ParseRemovalLine(line);
                EXPECT_EQ(parsed.kind, kind);
                EXPECT_STREQ(parsed.subject.ConstData(),
                             EscapeLineText(path).Replace(": ", ":\\x20").ConstData());
                EXPECT_STREQ(parsed.reason.ConstData(), reason.ConstData());
                EXPECT_TRUE(IsEntryLine(parsed.kind));
            }
}

TEST(RemovalLine, OtherLinesAreNoEntries)
{
    struct Case
    {
        const char* line;
        RemovalLineKind kind;
        const char* subject;
    };
    const Case cases[] = {
        {"kept /t/Settings", RemovalLineKind::Kept, "/t/Settings"},
        {"summary: 2 removed, 0 kept, 0 missing, 0 failed", RemovalLineKind::Summary, ""},
        {"failed without a reason", RemovalLineKind::Other, ""},
        {"removed", RemovalLineKind::Other, ""},
        {"removedx /a", RemovalLineKind::Other, ""},
        {"Error executing command as another user", RemovalLineKind::Other, ""},
        {"", RemovalLineKind::Other, ""},
    };
    for (const Case& test : cases)
    {
        const RemovalLine parsed = ParseRemovalLine(test.line);
        EXPECT_EQ(parsed.kind, test.kind) << test.line;
        EXPECT_STREQ(parsed.subject.ConstData(), test.subject) << test.line;
        EXPECT_EQ(IsEntryLine(parsed.kind), test.kind == RemovalLineKind::Kept) << test.line;
    }
}
