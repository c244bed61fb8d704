#include <gtest/gtest.h>

#include "RemovalLine.h"

// Every kind written by the tool reads back as the same kind, path and reason, whatever the
// names hold: ": " in a path, a newline, a backslash, bytes that are not UTF-8.
TEST(RemovalLine, EveryKindReadsBackAsWritten)
{
    const RemovalLineKind kinds[] = {
        RemovalLineKind::Removed, RemovalLineKind::WouldRemove, RemovalLineKind::Kept,
        RemovalLineKind::Missing, RemovalLineKind::Failed,      RemovalLineKind::WouldFail,
        RemovalLineKind::Ignored, RemovalLineKind::Refused,     RemovalLineKind::WouldBeIgnored};
    // Each path and the subject its line reads back as: the escaped form a person sees.
    const struct
    {
        TqString path;
        const char* subject;
    } paths[] = {{"/t/a b", "/t/a b"},
                 {"/t/X.app: Contents", "/t/X.app:\\x20Contents"},
                 {"/t/line\nbreak", "/t/line\\nbreak"},
                 {"/t/back\\slash", "/t/back\\\\slash"},
                 {TqString("/t/\xff\xfe", 5), "/t/\\xFF\\xFE"}};
    const TqString reasons[] = {"Permission denied", "Contents/x: Permission denied: twice"};
    for (RemovalLineKind kind : kinds)
        for (const auto& path : paths)
            for (const TqString& reason : reasons)
            {
                const TqString line = FormatRemovalLine(kind, path.path, reason);
                SCOPED_TRACE(line.ConstData());
                EXPECT_EQ(line.IndexOf("\n", 0), TqString::maxLen);
                const RemovalLine parsed = ParseRemovalLine(line);
                EXPECT_EQ(parsed.kind, kind);
                EXPECT_STREQ(parsed.subject.ConstData(), path.subject);
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
