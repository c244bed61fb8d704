#include "TqVersion.h"

#include <string>

#include <gtest/gtest.h>

namespace
{

std::string Components(const TqVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision) + "." +
           std::to_string(v.build);
}

std::string Text(const TqString& s)
{
    return std::string(s.ConstData(), s.Size());
}

TqVersion Parse(const char* text)
{
    return TqVersion(TqString(text));
}

} // namespace

TEST(TqVersionTest, ParsingStopsAtTheFirstMismatch)
{
    EXPECT_EQ("7.0.0.0", Components(Parse("7")));
    EXPECT_EQ("1.2.0.0", Components(Parse("1.2")));
    EXPECT_EQ("1.2.0.0", Components(Parse("1. 2")));
    EXPECT_EQ("1.0.0.0", Components(Parse("1 .2")));
    EXPECT_EQ("1.0.0.0", Components(Parse("1..2")));
    EXPECT_EQ("0.0.0.0", Components(Parse("ver 1.2")));
    EXPECT_EQ("0.0.0.0", Components(Parse("")));
    EXPECT_EQ("0.0.0.0", Components(TqVersion(TqString())));
    EXPECT_EQ("1.2.3.4", Components(Parse("1.2.3.4.5")));
    EXPECT_EQ("1.2.3.4", Components(Parse(" 1.2.3.4 beta")));
    EXPECT_EQ("-1.2.0.0", Components(Parse("-1.2")));
}

TEST(TqVersionTest, ThirdNumberAbove100000IsTheBuild)
{
    EXPECT_EQ("1.2.0.100001", Components(Parse("1.2.100001")));
    EXPECT_EQ("1.2.100000.0", Components(Parse("1.2.100000")));
    EXPECT_EQ("1.2.300000.5", Components(Parse("1.2.300000.5")));
    EXPECT_EQ("2.0.0.100001", Components(Parse("2.0.100001")));
    EXPECT_EQ("2.0.100001.7", Components(Parse("2.0.100001.7")));
    EXPECT_EQ("2.0.0.100001", Components(Parse("2.0.100001.0")));
}

TEST(TqVersionTest, ConstructorsAndValidity)
{
    EXPECT_EQ("0.0.0.0", Components(TqVersion()));
    EXPECT_FALSE(TqVersion().IsValid());
    EXPECT_FALSE(Parse("ver 1.2").IsValid());
    EXPECT_EQ("1.2.3.4", Components(TqVersion(1, 2, 3, 4)));
    EXPECT_TRUE(TqVersion(0, 0, 0, -1).IsValid());
    EXPECT_TRUE(TqVersion(0, 0, 1, 0).IsValid());
    EXPECT_TRUE(TqVersion(1, 0, 0, 0).IsValid());
    EXPECT_TRUE(Parse("1.2") == TqVersion(1, 2, 0, 0));
    EXPECT_FALSE(Parse("1.2") == TqVersion(1, 2, 0, 1));

    const TqProductVersion product = {3, 1, 250};
    const TqVersion fromProduct(product);
    EXPECT_EQ("3.1.0.250", Components(fromProduct));
    EXPECT_EQ("3.1.250", Text(fromProduct.ToString(true)));
    EXPECT_EQ(31250U, fromProduct.ToUInt(true));

    const TqVersion copy = fromProduct;
    EXPECT_TRUE(copy == fromProduct);
}

TEST(TqVersionTest, OrderingIsLexicographic)
{
    const TqVersion v1234(1, 2, 3, 4);
    const TqVersion same(1, 2, 3, 4);
    EXPECT_TRUE(v1234 <= same);
    EXPECT_TRUE(v1234 >= same);
    EXPECT_FALSE(v1234 < same);
    EXPECT_FALSE(v1234 > same);
    EXPECT_TRUE(v1234 < TqVersion(1, 2, 3, 5));
    EXPECT_TRUE(TqVersion(1, 2, 3, 5) > v1234);
    EXPECT_FALSE(TqVersion(1, 2, 3, 5) <= v1234);

    // An earlier component decides, whatever the later ones say.
    const TqVersion two(2, 0, 0, 0);
    const TqVersion oneFive(1, 5, 0, 0);
    EXPECT_TRUE(two > oneFive);
    EXPECT_FALSE(two < oneFive);
    EXPECT_TRUE(oneFive < two);
    EXPECT_FALSE(oneFive > two);
    EXPECT_TRUE(two >= oneFive);
    EXPECT_FALSE(two <= oneFive);
    EXPECT_TRUE(oneFive <= two);
    EXPECT_FALSE(oneFive >= two);
    EXPECT_TRUE(TqVersion(1, 2, 9, 0) < TqVersion(1, 3, 0, 0));
    EXPECT_TRUE(TqVersion(1, 2, 3, 9) < TqVersion(1, 2, 4, 0));
    EXPECT_TRUE(TqVersion(-1, 9, 9, 9) < TqVersion());
}

TEST(TqVersionTest, TextAndPackedForms)
{
    const TqVersion v1234(1, 2, 3, 4);
    EXPECT_EQ("1.2.3.4", Text(v1234.ToString(false)));
    EXPECT_EQ("1.2.4", Text(v1234.ToString(true)));
    EXPECT_EQ(1234U, v1234.ToUInt(false));
    EXPECT_EQ(124U, v1234.ToUInt(true));
    EXPECT_EQ(10001U, TqVersion(10, 0, 0, 1).ToUInt(false));
    EXPECT_EQ("0.0.0.0", Text(TqVersion().ToString(false)));
    EXPECT_EQ("0.0.0", Text(TqVersion().ToString(true)));
    EXPECT_EQ(0U, TqVersion().ToUInt(false));
    EXPECT_EQ(12345U, TqVersion(1, 23, 4, 5).ToUInt(false));
    EXPECT_EQ(12345U, TqVersion(12, 3, 4, 5).ToUInt(false));
    // Packed digits past 32 bits saturate rather than wrap.
    EXPECT_EQ(4294967295U, TqVersion(9, 9, 9, 9999999).ToUInt(false));
    EXPECT_EQ(4294967295U, TqVersion(4, 2, 9, 4967296).ToUInt(false));
    EXPECT_EQ(4294967295U, TqVersion(4, 2, 9, 4967295).ToUInt(false));
    EXPECT_EQ(4294967294U, TqVersion(4, 2, 9, 4967294).ToUInt(false));
    EXPECT_EQ(4294966062U, TqVersion(-1, 2, 3, 4).ToUInt(false));
    EXPECT_EQ("-1.2.3.4", Text(TqVersion(-1, 2, 3, 4).ToString(false)));
    EXPECT_EQ("1.2.3.4", Text(Parse("1.2.3.4").ToString(false)));
}
