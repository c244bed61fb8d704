#include "StringLibrary.h"
#include "TqString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
std::vector<std::string> split(const char* text, const char* separator, bool skipEmpty)
{
    std::vector<std::string> out;
    for (const TqString& piece : StringLibrary::Split(TqString(text), TqString(separator), skipEmpty))
        out.emplace_back(piece.ConstData(), piece.Size());
    return out;
}
using Pieces = std::vector<std::string>;
} // namespace

TEST(StringLibraryTest, SplitAtSingleByteSeparator)
{
    EXPECT_EQ(split("a;;b;", ";", true), (Pieces{"a", "b"}));
    EXPECT_EQ(split("a;;b;", ";", false), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split(";a", ";", false), (Pieces{"", "a"}));
    EXPECT_EQ(split(";a", ";", true), (Pieces{"a"}));
    EXPECT_EQ(split("abc", ";", true), (Pieces{"abc"}));
    EXPECT_EQ(split("", ";", false), Pieces{});
    EXPECT_EQ(split(";", ";", false), (Pieces{""}));
    EXPECT_EQ(split("x86;x64", ";", true), (Pieces{"x86", "x64"}));
}

TEST(StringLibraryTest, SplitEdgeSeparators)
{
    // An empty separator cannot cut: the text comes back whole, and the call ends.
    EXPECT_EQ(split("abc", "", true), (Pieces{"abc"}));
    EXPECT_EQ(split("", "", true), Pieces{});
    // A longer separator keeps every non-empty remainder.
    EXPECT_EQ(split("a::b", "::", true), (Pieces{"a", "b"}));
    EXPECT_EQ(split("a", "::", true), (Pieces{"a"}));
    EXPECT_EQ(split("a::", "::", false), (Pieces{"a"}));

    // The result stores into a plain standard vector.
    std::vector<TqString> plain = StringLibrary::Split(TqString("p;q"), TqString(";"), true);
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_TRUE(plain[1] == TqString("q"));
}
