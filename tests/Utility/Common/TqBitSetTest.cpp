#include <gtest/gtest.h>

#include <string>

#include "TqBitSet.h"

namespace
{

// The positions of the set bits, in order.
std::string setBits(const TqBitSet& set)
{
    std::string positions;
    for (unsigned long index = 0; index < set.Size(); ++index)
        if (set.Test(index))
            positions += std::to_string(index) + " ";
    return positions;
}

} // namespace

TEST(TqBitSetTest, ReadsHexadecimalGroupsFromTheEnd)
{
    TqBitSet set;
    EXPECT_EQ(0u, set.Size());
    EXPECT_FALSE(set.Test(0));

    EXPECT_TRUE(set.fromString(TqString("1")));
    EXPECT_EQ(32u, set.Size());
    EXPECT_EQ("0 ", setBits(set));

    EXPECT_TRUE(set.fromString(TqString("100000001")));
    EXPECT_EQ(64u, set.Size());
    EXPECT_EQ("0 32 ", setBits(set));

    EXPECT_TRUE(set.fromString(TqString("80000000aF")));
    EXPECT_EQ(64u, set.Size());
    EXPECT_EQ("0 1 2 3 5 7 39 ", setBits(set));

    EXPECT_TRUE(set.fromString(TqString("FFFFFFFF")));
    EXPECT_EQ(32u, set.Size());
    EXPECT_TRUE(set.Test(31));
    EXPECT_FALSE(set.Test(32));

    EXPECT_TRUE(set.fromString(TqString("0")));
    EXPECT_EQ(32u, set.Size());
    EXPECT_EQ("", setBits(set));

    EXPECT_TRUE(set.fromString(TqString("  1")));
    EXPECT_EQ("0 ", setBits(set));
}

TEST(TqBitSetTest, DropsGroupsThatAreNotWhollyHexadecimal)
{
    TqBitSet set;
    EXPECT_TRUE(set.fromString(TqString("FFFFFFFFx")));
    EXPECT_EQ(32u, set.Size());
    EXPECT_EQ("0 1 2 3 ", setBits(set));

    // The bits left of a dropped group move down without a gap.
    EXPECT_TRUE(set.fromString(TqString("00000001zzzzzzzz")));
    EXPECT_EQ(32u, set.Size());
    EXPECT_EQ("0 ", setBits(set));

    EXPECT_FALSE(set.fromString(TqString("xyz")));
    EXPECT_EQ(0u, set.Size());
    EXPECT_FALSE(set.fromString(TqString("1 ")));
    EXPECT_FALSE(set.fromString(TqString()));
    EXPECT_EQ(0u, set.Size());

    TqBitSet copy(set);
    set.fromString(TqString("3"));
    copy = set;
    set.fromString(TqString("4"));
    EXPECT_EQ("0 1 ", setBits(copy));
    EXPECT_EQ("2 ", setBits(set));
}
