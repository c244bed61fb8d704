#include <string>

#include <gtest/gtest.h>

#include "PathText.h"

namespace
{

struct Case
{
    const char* path;
    const char* other; // the component, for Join
    const char* expected;
};

std::string Text(const TqString& value)
{
    return std::string(value.ConstData(), value.Size());
}

} // namespace

TEST(PathTextTest, JoinPutsExactlyOneSeparatorBetween)
{
    const Case cases[] = {
        {"/tmp", "abc", "/tmp/abc"},
        {"/tmp/", "abc", "/tmp/abc"},
        {"/tmp//", "/abc", "/tmp/abc"},
        {"/", "abc", "/abc"},
        {"", "abc", "/abc"},
        {"/a/b.app", "Contents/MacOS/Uninstall", "/a/b.app/Contents/MacOS/Uninstall"},
        {"/target", "", "/target/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(PathText::Join(c.path, c.other)), c.expected) << c.path << " + " << c.other;
}

TEST(PathTextTest, ParentIsThePartBeforeTheLastSlash)
{
    const Case cases[] = {
        {"/a/b/c", nullptr, "/a/b"},
        {"/a", nullptr, "/"},
        {"/", nullptr, "/"},
        {"a/b", nullptr, "a"},
        {"/a/b/", nullptr, "/a/b"},
        {"name", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(PathText::Parent(c.path)), c.expected) << c.path;
}

TEST(PathTextTest, ResolvedDropsDotsAndStepsBackForDoubleDots)
{
    const Case cases[] = {
        {"/usr/local/bin/../../../opt/Acme/./bin//figlet", nullptr, "/opt/Acme/bin/figlet"},
        {"/a/../../..", nullptr, "/"},
        {"/a/b/..", nullptr, "/a"},
        {"/a/.../b", nullptr, "/a/.../b"},
        {"/./", nullptr, "/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(PathText::Resolved(c.path)), c.expected) << c.path;
}

TEST(PathTextTest, NormalizedFoldsSlashRunsAndDropsTrailingOnes)
{
    const Case cases[] = {
        {"/opt//Tq///App/", nullptr, "/opt/Tq/App"},
        {"///", nullptr, "/"},
        {"/", nullptr, "/"},
        {"relative/dir/", nullptr, "relative/dir"},
        {"/plain/path", nullptr, "/plain/path"},
        {"", nullptr, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(PathText::Normalized(c.path)), c.expected) << c.path;
}
