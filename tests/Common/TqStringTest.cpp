#include "TqString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <utility>

namespace
{
std::string str(const TqString& s)
{
    return std::string(s.ConstData(), s.Size());
}
const unsigned long npos = TqString::maxLen;
} // namespace

TEST(TqStringTest, ConstructionAndAccess)
{
    EXPECT_EQ(TqString::maxLen, std::numeric_limits<unsigned long>::max());

    TqString abc("abc");
    EXPECT_EQ(abc.Size(), 3u);
    EXPECT_TRUE(abc.IsSet());
    EXPECT_STREQ(abc.Data(), "abc");

    TqString fromNull(static_cast<const char*>(nullptr));
    TqString zeroCount("abc", 0);
    for (const TqString* empty : {&fromNull, &zeroCount})
    {
        EXPECT_FALSE(empty->IsSet());
        EXPECT_TRUE(empty->IsEmpty());
        EXPECT_EQ(empty->Data(), nullptr);
        EXPECT_STREQ(empty->ConstData(), "");
    }

    char mutableText[] = "hello";
    EXPECT_EQ(str(TqString(mutableText, 4)), "hell");

    TqString withNul("a\0b", 3);
    EXPECT_EQ(withNul.Size(), 3u);
    EXPECT_EQ(withNul[1], '\0');
    EXPECT_EQ(withNul[2], 'b');
    EXPECT_EQ(withNul[3], '\0');
    EXPECT_EQ(withNul.Data()[3], '\0');

    EXPECT_EQ(abc[2], 'c');
    EXPECT_EQ(abc[3], '\0');
    EXPECT_EQ(abc[npos], '\0');
    EXPECT_TRUE(abc.HasOf(2));
    EXPECT_FALSE(abc.HasOf(3));
    EXPECT_FALSE(abc.HasOf(npos));

    abc.Clear();
    EXPECT_TRUE(abc.IsEmpty());
    EXPECT_EQ(abc.Data(), nullptr);
}

TEST(TqStringTest, CopyAndAssignmentKeepIndependentValues)
{
    TqString a("first");
    TqString b(a);
    EXPECT_NE(a.Data(), b.Data());
    b.Data()[0] = 'F';
    EXPECT_EQ(str(a), "first");

    a = a;
    EXPECT_EQ(str(a), "first");
    a = b;
    EXPECT_EQ(str(a), "First");
    a = TqString();
    EXPECT_TRUE(a.IsEmpty());

    TqString source("moved");
    TqString target(std::move(source));
    EXPECT_EQ(str(target), "moved");
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(source.Data(), nullptr);
    source = std::move(target);
    EXPECT_EQ(str(source), "moved");
    EXPECT_TRUE(target.IsEmpty());

    // Destroying through a pointer to the class releases the buffer (checked by the sanitizers).
    TqString* heap = new TqString("owned");
    delete heap;
}

TEST(TqStringTest, ComparisonAndOrder)
{
    EXPECT_TRUE(TqString("abc") == TqString("abc"));
    EXPECT_FALSE(TqString("abc").Equals(TqString("abd")));
    EXPECT_TRUE(TqString().Equals(TqString("")));
    EXPECT_TRUE(TqString("ABC").EqualsIgnoreCase(TqString("abc")));
    EXPECT_FALSE(TqString("ABC").EqualsIgnoreCase(TqString("abd")));
    EXPECT_FALSE(TqString("ab").EqualsIgnoreCase(TqString("abc")));

    // Longer strings sort first, equal lengths by unsigned bytes.
    EXPECT_TRUE(TqString("abc") < TqString("ab"));
    EXPECT_FALSE(TqString("ab") < TqString("abc"));
    EXPECT_TRUE(TqString("abc") < TqString("abd"));
    EXPECT_FALSE(TqString("abd") < TqString("abc"));
    EXPECT_TRUE(TqString("a") < TqString());
    EXPECT_FALSE(TqString() < TqString());
    EXPECT_FALSE(TqString("abc") < TqString("abc"));
    EXPECT_TRUE(TqString("a") < TqString("\xc3"));

    std::map<TqString, int> keys{{TqString("b"), 1}, {TqString("aaa"), 2}, {TqString("a"), 3}, {TqString("zz"), 4}};
    std::string order;
    for (const auto& entry : keys)
        order += str(entry.first) + ",";
    EXPECT_EQ(order, "aaa,zz,a,b,");
}

TEST(TqStringTest, EmbeddedNulBytesTakePartInComparison)
{
    const TqString a("a\0b", 3);
    const TqString b("a\0c", 3);
    EXPECT_FALSE(a.Equals(b));
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a.EqualsIgnoreCase(b));
    EXPECT_TRUE(a.EqualsIgnoreCase(TqString("A\0B", 3)));
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
}

TEST(TqStringTest, AppendAndConcatenation)
{
    TqString s("ab");
    s.Append(TqString("cd"));
    EXPECT_EQ(str(s), "abcd");
    s.Append(TqString());
    EXPECT_EQ(str(s), "abcd");
    s += TqString("e");
    s += "f";
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(str(s), "abcdef");
    EXPECT_EQ(s.Data()[s.Size()], '\0');

    s.Append(s);
    EXPECT_EQ(str(s), "abcdefabcdef");
    s += s.Data() + 10;
    EXPECT_EQ(str(s), "abcdefabcdefef");

    TqString empty;
    empty += "x";
    EXPECT_EQ(str(empty), "x");

    const TqString base("base");
    EXPECT_EQ(str(base + TqString("/x")), "base/x");
    EXPECT_EQ(str(base + "/y"), "base/y");
    EXPECT_EQ(str(base + static_cast<const char*>(nullptr)), "base");
    EXPECT_EQ(str(base), "base");

    TqString many;
    std::string expected;
    for (int i = 0; i < 1000; ++i)
    {
        many += "piece-";
        expected += "piece-";
    }
    EXPECT_EQ(str(many), expected);
}

TEST(TqStringTest, SubstrBounds)
{
    const TqString abc("abc");
    EXPECT_TRUE(abc.Substr(5, 2).IsEmpty());
    EXPECT_TRUE(abc.Substr(3, 1).IsEmpty());
    EXPECT_EQ(str(abc.Substr(1, npos)), "bc");
    EXPECT_TRUE(abc.Substr(1, 0).IsEmpty());
    EXPECT_EQ(str(abc.Substr(0, 2)), "ab");
    EXPECT_EQ(str(abc.Substr(2, 100)), "c");
    EXPECT_TRUE(TqString().Substr(0, npos).IsEmpty());
}

TEST(TqStringTest, ForwardAndBackwardSearch)
{
    const TqString abc("abc");
    EXPECT_EQ(abc.IndexOf(TqString(), 0), 0u);
    EXPECT_EQ(abc.IndexOf(TqString(), 2), 2u);
    EXPECT_EQ(abc.IndexOf(TqString("c"), 3), npos);
    EXPECT_EQ(abc.IndexOf(TqString("bc"), 1), 1u);
    EXPECT_EQ(abc.IndexOf(TqString("bc"), 2), npos);
    EXPECT_EQ(abc.IndexOf(TqString("abcd"), 0), npos);
    EXPECT_EQ(abc.IndexOfIgnoreCase(TqString("B"), 0), 1u);
    EXPECT_EQ(abc.IndexOfIgnoreCase(TqString("BC"), 0), 1u);
    EXPECT_EQ(abc.IndexOfIgnoreCase(TqString("CB"), 0), npos);
    EXPECT_EQ(abc.IndexLastOf(TqString()), 3u);
    EXPECT_EQ(TqString().IndexOf(TqString(), 0), npos);
    EXPECT_EQ(TqString().IndexLastOf(TqString()), 0u);
    EXPECT_EQ(TqString("aba").IndexLastOf(TqString("a")), 2u);
    EXPECT_EQ(TqString("abab").IndexLastOf(TqString("ab")), 2u);
    EXPECT_EQ(TqString("abab").IndexLastOf(TqString("abab")), 0u);
    EXPECT_EQ(TqString("abab").IndexLastOf(TqString("x")), npos);
    EXPECT_EQ(TqString("xAbAB").IndexLastOfIgnoreCase(TqString("ab")), 3u);
    EXPECT_EQ(TqString("xAbAB").IndexLastOfIgnoreCase(TqString("XA")), 0u);
    EXPECT_EQ(TqString("xAbAB").IndexLastOfIgnoreCase(TqString("ba")), 2u);

    // Matches after an embedded NUL byte are found.
    EXPECT_EQ(TqString("a\0bc", 4).IndexOf(TqString("bc"), 0), 2u);
    EXPECT_EQ(TqString("a\0bc", 4).IndexOf(TqString("\0b", 2), 0), 1u);

    EXPECT_FALSE(abc.EndsWith(TqString()));
    EXPECT_FALSE(TqString().EndsWith(TqString()));
    EXPECT_TRUE(abc.EndsWith(TqString("abc")));
    EXPECT_TRUE(abc.EndsWith(TqString("bc")));
    EXPECT_FALSE(abc.EndsWith(TqString("xabc")));
    EXPECT_FALSE(abc.EndsWith(TqString("b")));
}

TEST(TqStringTest, ReplaceIsLeftToRightWithoutOverlap)
{
    EXPECT_EQ(str(TqString("aXa").Replace(TqString("a"), TqString("aa"))), "aaXaa");
    EXPECT_EQ(str(TqString("aaa").Replace(TqString("aa"), TqString("b"))), "ba");
    EXPECT_TRUE(TqString("xx").Replace(TqString("x"), TqString()).IsEmpty());
    EXPECT_EQ(str(TqString("a.b.c").Replace(TqString("."), TqString("::"))), "a::b::c");
    EXPECT_EQ(str(TqString("abc").Replace(TqString("z"), TqString("y"))), "abc");
    EXPECT_TRUE(TqString().Replace(TqString("a"), TqString("b")).IsEmpty());
    // An empty searched text cannot be replaced; the result is an unchanged copy.
    EXPECT_EQ(str(TqString("abc").Replace(TqString(), TqString("x"))), "abc");
    EXPECT_EQ(str(TqString("a\0a", 3).Replace(TqString("a"), TqString("b"))), std::string("b\0b", 3));
}

TEST(TqStringTest, CaseMappingTouchesAsciiOnly)
{
    EXPECT_EQ(str(TqString("\xc3\xa4" "bc").ToUpper()), "\xc3\xa4" "BC");
    EXPECT_EQ(str(TqString("\xc3\x84" "BC").ToLower()), "\xc3\x84" "bc");
    EXPECT_EQ(str(TqString("MiXeD 123").ToLower()), "mixed 123");
    EXPECT_EQ(str(TqString("MiXeD 123").ToUpper()), "MIXED 123");
    EXPECT_EQ(str(TqString("@[`{").ToUpper()), "@[`{");
    EXPECT_EQ(str(TqString("keep").ToUTF8()), "keep");
    EXPECT_TRUE(TqString().ToUpper().IsEmpty());
}

TEST(TqStringTest, NumbersFromText)
{
    EXPECT_EQ(TqString().GetLong(7), 7);
    EXPECT_EQ(TqString("abc").GetLong(7), 7);
    EXPECT_EQ(TqString(" 42x").GetLong(7), 42);
    EXPECT_EQ(TqString("-13").GetLong(7), -13);
    EXPECT_EQ(TqString("9000000000").GetLong(0), 9000000000L);

    EXPECT_EQ(TqString("4294967296").GetULong(1), 4294967296UL);
    EXPECT_EQ(TqString("18446744073709551615").GetULong(1), 18446744073709551615UL);
    EXPECT_EQ(TqString("x").GetULong(5), 5u);
    EXPECT_EQ(TqString().GetULong(5), 5u);

    EXPECT_DOUBLE_EQ(TqString("x").GetDouble(1.5), 1.5);
    EXPECT_DOUBLE_EQ(TqString().GetDouble(1.5), 1.5);
    EXPECT_DOUBLE_EQ(TqString(" 2.25kg").GetDouble(1.5), 2.25);
}

TEST(TqStringTest, NumbersToText)
{
    TqString s("old");
    EXPECT_EQ(str(s.FromInt(-5)), "-5");
    EXPECT_EQ(str(s.FromInt(std::numeric_limits<int>::min())), "-2147483648");
    EXPECT_EQ(str(s.FromDword(4294967295u)), "4294967295");
    EXPECT_EQ(str(s.FromDouble(1.5)), "1.500000");
    EXPECT_EQ(str(s.FromDouble(-0.25)), "-0.250000");

    // Every finite value prints in full, however many digits "%f" gives it.
    s.FromDouble(1e300);
    EXPECT_EQ(s.Size(), 301u + 7u);
    EXPECT_EQ(str(s.Substr(0, 5)), "10000");
    EXPECT_TRUE(s.EndsWith(TqString(".000000")));
    s.FromDouble(-std::numeric_limits<double>::max());
    EXPECT_EQ(s.Size(), 1u + 309u + 7u);
    EXPECT_EQ(s[0], '-');
}

TEST(TqStringTest, GuidTextRoundTrip)
{
    _GUID guid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    TqString text;
    text.FromGUID(guid);
    EXPECT_EQ(str(text), "00000001-0002-0003-0405-060708090a0b");

    bool ok = false;
    _GUID back = text.GetGUID(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::memcmp(&back, &guid, sizeof guid), 0);

    _GUID big = {0xdeadbeef, 0xffff, 0xabcd, {0xff, 0xee, 0, 1, 2, 3, 4, 0x80}};
    back = text.FromGUID(big).GetGUID(nullptr);
    EXPECT_EQ(str(text), "deadbeef-ffff-abcd-ffee-000102030480");
    EXPECT_EQ(std::memcmp(&back, &big, sizeof big), 0);

    const _GUID zero = {};
    for (const char* bad : {"{00000001-0002-0003-0405-060708090a0b}", "", "00000001-0002-0003-0405-0607080", "zz"})
    {
        ok = true;
        back = TqString(bad).GetGUID(&ok);
        EXPECT_FALSE(ok) << bad;
        EXPECT_EQ(std::memcmp(&back, &zero, sizeof zero), 0) << bad;
    }
    EXPECT_TRUE(TqString("00000001-0002-0003-0405-060708090a0b trailing").GetGUID(&ok).part1 == 1 && ok);
}

TEST(TqStringTest, FormatCutsAt510Bytes)
{
    TqString s("old");
    EXPECT_EQ(str(s.FromFormat(TqString("%d.%d.%d.%d"), 1, 2, 3, 4)), "1.2.3.4");
    EXPECT_EQ(str(s.FromFormat(TqString("%s-%s"), "a", "b")), "a-b");
    EXPECT_TRUE(s.FromFormat(TqString(), 1).IsEmpty());
    s = "self";
    EXPECT_EQ(str(s.FromFormat(TqString("%s-%s"), s.ConstData(), s.ConstData())), "self-self");

    const std::string longText(600, 'q');
    s.FromFormat(TqString("%s"), longText.c_str());
    EXPECT_EQ(s.Size(), 510u);
    EXPECT_EQ(str(s), longText.substr(0, 510));
}
