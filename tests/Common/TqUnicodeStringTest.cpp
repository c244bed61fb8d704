#include "TqUnicodeString.h"

#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "StringLibrary.h"

namespace
{

const unsigned long maxLen = TqUnicodeString::maxLen;

std::wstring Text(const TqUnicodeString& s)
{
    return std::wstring(s.ConstData(), s.Size());
}

std::string Bytes(const TqString& s)
{
    return std::string(s.ConstData(), s.Size());
}

// Switches the process locale for one test and puts the previous one back afterwards.
class LocaleTest : public testing::Test
{
protected:
    void SetUp() override { saved = std::setlocale(LC_ALL, nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, saved.c_str()); }
    bool UseLocale(const char* name) { return std::setlocale(LC_ALL, name) != nullptr; }

private:
    std::string saved;
};

// Operations whose results do not depend on the locale, run under both locales.
class TqUnicodeStringTest : public LocaleTest, public testing::WithParamInterface<const char*>
{
protected:
    void SetUp() override
    {
        LocaleTest::SetUp();
        ASSERT_TRUE(UseLocale(GetParam()));
    }
};

INSTANTIATE_TEST_SUITE_P(Locales, TqUnicodeStringTest, testing::Values("C", "C.UTF-8"));

using TqUnicodeStringCLocaleTest = LocaleTest;
using TqUnicodeStringUtf8LocaleTest = LocaleTest;

} // namespace

TEST_P(TqUnicodeStringTest, EmptyStringsHaveNoBuffer)
{
    const TqUnicodeString fromNull(static_cast<const wchar_t*>(nullptr));
    const TqUnicodeString fromMutableNull(static_cast<wchar_t*>(nullptr), 4);
    const TqUnicodeString fromNarrowNull(static_cast<const char*>(nullptr));
    const TqUnicodeString fromZeroCount(L"abc", 0);
    const TqUnicodeString fromEmptyText(L"");
    const TqUnicodeString fromEmptyNarrow("");
    for (const TqUnicodeString* s :
         {&fromNull, &fromMutableNull, &fromNarrowNull, &fromZeroCount, &fromEmptyText, &fromEmptyNarrow})
    {
        EXPECT_FALSE(s->IsSet());
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(0UL, s->Size());
        EXPECT_EQ(nullptr, s->Data());
        ASSERT_NE(nullptr, s->ConstData());
        EXPECT_EQ(L'\0', s->ConstData()[0]);
        EXPECT_EQ(L'\0', (*s)[0]);
    }
}

TEST_P(TqUnicodeStringTest, ConstructionCopiesExactlyTheCountedCharacters)
{
    const TqUnicodeString abc(L"abc");
    EXPECT_EQ(3UL, abc.Size());
    EXPECT_EQ(L"abc", Text(abc));
    EXPECT_EQ(L"ab", Text(TqUnicodeString(L"abc", 2)));
    EXPECT_EQ(L"abc", Text(TqUnicodeString("abc")));
    EXPECT_EQ(L"ab", Text(TqUnicodeString("abc", 2)));

    const wchar_t withNul[] = {L'a', L'\0', L'b'};
    const TqUnicodeString embedded(withNul, 3);
    EXPECT_EQ(3UL, embedded.Size());
    EXPECT_EQ(L'a', embedded[0]);
    EXPECT_EQ(L'\0', embedded[1]);
    EXPECT_EQ(L'b', embedded[2]);
    EXPECT_EQ(L'\0', embedded[3]);
    EXPECT_TRUE(embedded.HasOf(2));
    EXPECT_FALSE(embedded.HasOf(3));
    EXPECT_FALSE(embedded.HasOf(maxLen));
    EXPECT_EQ(L'\0', embedded.Data()[3]);
    EXPECT_EQ("a", Bytes(embedded.ToUTF8()));
    EXPECT_EQ(std::wstring(withNul, 3), Text(TqUnicodeString(embedded)));

    TqUnicodeString copy(abc);
    copy.Data()[0] = L'x';
    EXPECT_EQ(L"abc", Text(abc));
    EXPECT_EQ(L"xbc", Text(copy));
}

TEST_P(TqUnicodeStringTest, AssignmentAndAppendSurviveTheirOwnBuffer)
{
    TqUnicodeString s(L"abc");
    TqUnicodeString& alias = s;
    s = alias;
    EXPECT_EQ(L"abc", Text(s));
    s.init(s.Data() + 1, 2);
    EXPECT_EQ(L"bc", Text(s));
    s.Append(s);
    EXPECT_EQ(L"bcbc", Text(s));
    s += s.Data() + 2;
    EXPECT_EQ(L"bcbcbc", Text(s));
    s += static_cast<const wchar_t*>(nullptr);
    s += TqUnicodeString();
    EXPECT_EQ(L"bcbcbc", Text(s));
    s = TqUnicodeString();
    EXPECT_EQ(nullptr, s.Data());
    s = TqUnicodeString(L"xy");
    s.Clear();
    EXPECT_EQ(nullptr, s.Data());
    EXPECT_EQ(0UL, s.Size());

    TqUnicodeString left(L"ab");
    EXPECT_EQ(L"abcd", Text(left + TqUnicodeString(L"cd")));
    EXPECT_EQ(L"abcd", Text(left + L"cd"));
    EXPECT_EQ(L"ab", Text(left + static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(L"ab", Text(left));
    EXPECT_EQ(L"cd", Text((TqUnicodeString() += L"cd")));
}

TEST_P(TqUnicodeStringTest, ComparisonUsesEveryCountedCharacter)
{
    TqUnicodeString abc(L"abc");
    TqUnicodeString abc2(L"abc");
    TqUnicodeString empty;
    TqUnicodeString empty2(L"");
    EXPECT_TRUE(abc == abc2);
    EXPECT_TRUE(empty == empty2);
    EXPECT_FALSE(abc.Equals(TqUnicodeString(L"abd")));
    EXPECT_FALSE(abc.Equals(TqUnicodeString(L"ab")));
    EXPECT_TRUE(TqUnicodeString(L"ABC").EqualsIgnoreCase(abc));
    EXPECT_FALSE(abc.EqualsIgnoreCase(TqUnicodeString(L"abcd")));
    EXPECT_TRUE(empty.EqualsIgnoreCase(empty2));

    // Longer strings order first; equal lengths by character value.
    EXPECT_TRUE(abc < TqUnicodeString(L"ab"));
    EXPECT_FALSE(TqUnicodeString(L"ab") < abc);
    EXPECT_TRUE(abc < TqUnicodeString(L"abd"));
    EXPECT_FALSE(TqUnicodeString(L"abd") < abc);
    EXPECT_FALSE(abc < abc2);
    EXPECT_TRUE(TqUnicodeString(L"a") < empty);
    EXPECT_FALSE(empty < TqUnicodeString(L"a"));
    EXPECT_FALSE(empty < empty2);

    // Characters behind an embedded nul still tell strings apart.
    const wchar_t first[] = {L'a', L'\0', L'b'};
    const wchar_t second[] = {L'a', L'\0', L'c'};
    const TqUnicodeString a(first, 3);
    const TqUnicodeString b(second, 3);
    EXPECT_FALSE(a.Equals(b));
    EXPECT_FALSE(a.EqualsIgnoreCase(b));
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
}

TEST_P(TqUnicodeStringTest, SubstrClampsToTheEnd)
{
    const TqUnicodeString abcd(L"abcd");
    EXPECT_EQ(L"cd", Text(abcd.Substr(2, maxLen)));
    EXPECT_EQ(L"d", Text(abcd.Substr(3, 5)));
    EXPECT_EQ(L"bc", Text(abcd.Substr(1, 2)));
    EXPECT_TRUE(abcd.Substr(4, 1).IsEmpty());
    EXPECT_TRUE(abcd.Substr(1, 0).IsEmpty());
    EXPECT_TRUE(abcd.Substr(maxLen, maxLen).IsEmpty());
    EXPECT_TRUE(TqUnicodeString().Substr(0, maxLen).IsEmpty());
}

TEST_P(TqUnicodeStringTest, ForwardSearch)
{
    const TqUnicodeString abab(L"abab");
    EXPECT_EQ(1UL, abab.IndexOf(TqUnicodeString(L"b"), 0));
    EXPECT_EQ(3UL, abab.IndexOf(TqUnicodeString(L"b"), 2));
    EXPECT_EQ(maxLen, abab.IndexOf(TqUnicodeString(L"b"), 4));
    EXPECT_EQ(1UL, abab.IndexOf(TqUnicodeString(), 1));
    EXPECT_EQ(maxLen, abab.IndexOf(TqUnicodeString(), 4));
    EXPECT_EQ(2UL, abab.IndexOf(TqUnicodeString(L"ab"), 1));
    EXPECT_EQ(maxLen, abab.IndexOf(TqUnicodeString(L"ab"), 3));
    EXPECT_EQ(maxLen, abab.IndexOf(TqUnicodeString(L"ababa"), 0));
    EXPECT_EQ(maxLen, abab.IndexOf(TqUnicodeString(L"abc"), 0));
    EXPECT_EQ(1UL, TqUnicodeString(L"aaab").IndexOf(TqUnicodeString(L"aab"), 0));
    EXPECT_EQ(2UL, TqUnicodeString(L"xxab").IndexOf(TqUnicodeString(L"ab"), 0));
    EXPECT_EQ(maxLen, TqUnicodeString().IndexOf(TqUnicodeString(), 0));
    EXPECT_EQ(maxLen, TqUnicodeString().IndexOf(TqUnicodeString(L"a"), 0));

    EXPECT_EQ(1UL, TqUnicodeString(L"abc").IndexOfIgnoreCase(TqUnicodeString(L"B"), 0));
    EXPECT_EQ(2UL, TqUnicodeString(L"xyAbC").IndexOfIgnoreCase(TqUnicodeString(L"aBc"), 1));
    EXPECT_EQ(maxLen, TqUnicodeString(L"xyAbC").IndexOfIgnoreCase(TqUnicodeString(L"aBc"), 3));

    const wchar_t text[] = {L'x', L'\0', L'a', L'\0', L'b'};
    const wchar_t needle[] = {L'\0', L'b'};
    EXPECT_EQ(3UL, TqUnicodeString(text, 5).IndexOf(TqUnicodeString(needle, 2), 0));
}

TEST_P(TqUnicodeStringTest, BackwardSearchAndSuffix)
{
    const TqUnicodeString abab(L"abab");
    EXPECT_EQ(2UL, abab.IndexLastOf(TqUnicodeString(L"ab")));
    EXPECT_EQ(2UL, abab.IndexLastOfIgnoreCase(TqUnicodeString(L"AB")));
    EXPECT_EQ(maxLen, abab.IndexLastOfIgnoreCase(TqUnicodeString(L"BB")));
    EXPECT_EQ(0UL, abab.IndexLastOf(TqUnicodeString(L"aba")));
    EXPECT_EQ(maxLen, abab.IndexLastOf(TqUnicodeString(L"ababa")));
    EXPECT_EQ(2UL, TqUnicodeString(L"aba").IndexLastOf(TqUnicodeString(L"a")));
    EXPECT_EQ(3UL, TqUnicodeString(L"abc").IndexLastOf(TqUnicodeString()));
    EXPECT_EQ(0UL, TqUnicodeString().IndexLastOf(TqUnicodeString()));
    EXPECT_EQ(maxLen, TqUnicodeString().IndexLastOf(TqUnicodeString(L"a")));

    const TqUnicodeString abc(L"abc");
    EXPECT_TRUE(abc.EndsWith(TqUnicodeString(L"bc")));
    EXPECT_TRUE(abc.EndsWith(abc));
    EXPECT_FALSE(abc.EndsWith(TqUnicodeString(L"xabc")));
    EXPECT_FALSE(abc.EndsWith(TqUnicodeString(L"ab")));
    EXPECT_FALSE(abc.EndsWith(TqUnicodeString()));
    EXPECT_FALSE(TqUnicodeString().EndsWith(TqUnicodeString()));
}

TEST_P(TqUnicodeStringTest, ReplaceGoesLeftToRightWithoutRescanning)
{
    TqUnicodeString aXa(L"aXa");
    EXPECT_EQ(L"aaXaa", Text(aXa.Replace(TqUnicodeString(L"a"), TqUnicodeString(L"aa"))));
    EXPECT_EQ(L"aXa", Text(aXa));
    EXPECT_EQ(L"ba", Text(TqUnicodeString(L"aaa").Replace(TqUnicodeString(L"aa"), TqUnicodeString(L"b"))));
    EXPECT_TRUE(TqUnicodeString(L"xx").Replace(TqUnicodeString(L"x"), TqUnicodeString()).IsEmpty());
    EXPECT_EQ(L"aXYZaXYZ",
              Text(TqUnicodeString(L"abab").Replace(TqUnicodeString(L"b"), TqUnicodeString(L"XYZ"))));
    EXPECT_EQ(L"a--b", Text(TqUnicodeString(L"a;b").Replace(TqUnicodeString(L";"), TqUnicodeString(L"--"))));
    EXPECT_EQ(L"aXa", Text(aXa.Replace(TqUnicodeString(L"q"), TqUnicodeString(L"r"))));
    EXPECT_EQ(L"aXa", Text(aXa.Replace(TqUnicodeString(), TqUnicodeString(L"r"))));
    EXPECT_TRUE(TqUnicodeString().Replace(TqUnicodeString(L"a"), TqUnicodeString(L"b")).IsEmpty());
    EXPECT_EQ(L"!", Text(aXa.Replace(aXa, TqUnicodeString(L"!"))));
}

TEST_P(TqUnicodeStringTest, NumbersAndFormatting)
{
    EXPECT_EQ(7L, TqUnicodeString().GetLong(7));
    EXPECT_EQ(7L, TqUnicodeString(L"abc").GetLong(7));
    EXPECT_EQ(42L, TqUnicodeString(L" 42x").GetLong(7));
    EXPECT_EQ(-5L, TqUnicodeString(L"-5").GetLong(7));
    EXPECT_EQ(4294967295UL, TqUnicodeString(L"4294967295").GetULong(9));
    EXPECT_EQ(9UL, TqUnicodeString(L"x1").GetULong(9));
    EXPECT_EQ(1.5, TqUnicodeString(L"x").GetDouble(1.5));
    EXPECT_EQ(1.5, TqUnicodeString().GetDouble(1.5));
    EXPECT_EQ(2.25, TqUnicodeString(L"2.25z").GetDouble(1.5));

    TqUnicodeString s;
    EXPECT_EQ(L"-5", Text(s.FromInt(-5)));
    EXPECT_EQ(L"4294967295", Text(s.FromDword(4294967295U)));
    EXPECT_EQ(L"2.500000", Text(s.FromDouble(2.5)));
    // "%f" of 1e40 has 48 characters; the area keeps 29 of them.
    EXPECT_EQ(L"10000000000000000303786028427", Text(s.FromDouble(1e40)));

    EXPECT_EQ(L"3-x", Text(s.FromFormat(TqUnicodeString(L"%d-%ls"), 3, L"x")));
    EXPECT_TRUE(s.FromFormat(TqUnicodeString(), 3).IsEmpty());
    s = TqUnicodeString(L"self");
    EXPECT_EQ(L"self-self", Text(s.FromFormat(TqUnicodeString(L"%ls-%ls"), s.ConstData(), s.ConstData())));
    const std::wstring longText(600, L'q');
    EXPECT_EQ(std::wstring(510, L'q'), Text(s.FromFormat(TqUnicodeString(L"%ls"), longText.c_str())));
}

TEST_P(TqUnicodeStringTest, AsciiCaseMappingAndSplitting)
{
    const TqUnicodeString mixed(L"aB1-z");
    EXPECT_EQ(L"AB1-Z", Text(mixed.ToUpper()));
    EXPECT_EQ(L"ab1-z", Text(mixed.ToLower()));
    EXPECT_EQ(L"aB1-z", Text(mixed));
    EXPECT_TRUE(TqUnicodeString().ToUpper().IsEmpty());

    const Vector<TqUnicodeString> pieces =
        StringLibrary::Split(TqUnicodeString(L"a;;b;"), TqUnicodeString(L";"), false);
    ASSERT_EQ(3U, pieces.size());
    EXPECT_EQ(L"a", Text(pieces[0]));
    EXPECT_TRUE(pieces[1].IsEmpty());
    EXPECT_EQ(L"b", Text(pieces[2]));
}

TEST_P(TqUnicodeStringTest, Utf16RoundTripOutsideTheBasicPlane)
{
    // 'a', U+1F600 (a surrogate pair), U+00E9, U+FFFD.
    const TqUnicodeString text(L"a\U0001F600\u00E9\uFFFD");
    const std::string little("a\0\x3D\xD8\x00\xDE\xE9\0\xFD\xFF", 10);
    const std::string big("\0a\xD8\x3D\xDE\x00\0\xE9\xFF\xFD", 10);
    EXPECT_EQ(little, Bytes(text.ToUTF16(false)));
    EXPECT_EQ(big, Bytes(text.ToUTF16(true)));

    for (bool bigEndian : {false, true})
    {
        TqString units = text.ToUTF16(bigEndian);
        TqUnicodeString back(L"old");
        back.FromUTF16(units.Data(), bigEndian, units.Size() / 2);
        EXPECT_EQ(Text(text), Text(back));
    }

    // Explicit counts carry nul characters; maxLen stops at the first zero unit.
    const wchar_t withNul[] = {L'x', L'\0', L'y'};
    TqString units = TqUnicodeString(withNul, 3).ToUTF16(false);
    EXPECT_EQ(std::string("x\0\0\0y\0", 6), Bytes(units));
    TqUnicodeString back;
    back.FromUTF16(units.Data(), false, 3);
    EXPECT_EQ(std::wstring(withNul, 3), Text(back));
    back.FromUTF16(units.Data(), false, maxLen);
    EXPECT_EQ(L"x", Text(back));
    back.FromUTF16(units.Data(), false, 1);
    EXPECT_EQ(L"x", Text(back));

    EXPECT_TRUE(TqUnicodeString().ToUTF16(true).IsEmpty());
    back.FromUTF16(nullptr, false, 4);
    EXPECT_TRUE(back.IsEmpty());
}

TEST_P(TqUnicodeStringTest, Utf16RejectsUnpairedSurrogates)
{
    TqUnicodeString s(L"keep");
    unsigned char highAtEnd[] = {'a', 0, 0x3D, 0xD8};
    s.FromUTF16(highAtEnd, false, 2);
    EXPECT_TRUE(s.IsEmpty());

    s = TqUnicodeString(L"keep");
    unsigned char lowAlone[] = {0xDC, 0x00, 0, 'a'};
    s.FromUTF16(lowAlone, true, 2);
    EXPECT_TRUE(s.IsEmpty());

    s = TqUnicodeString(L"keep");
    unsigned char highThenLetter[] = {0xD8, 0x3D, 0, 'a', 0, 0};
    s.FromUTF16(highThenLetter, true, maxLen);
    EXPECT_TRUE(s.IsEmpty());

    // A pair cut by the count is unpaired.
    unsigned char pair[] = {0xD8, 0x3D, 0xDE, 0x00};
    s.FromUTF16(pair, true, 1);
    EXPECT_TRUE(s.IsEmpty());
    s.FromUTF16(pair, true, 2);
    EXPECT_EQ(L"\U0001F600", Text(s));

    const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800)};
    EXPECT_TRUE(TqUnicodeString(loneSurrogate, 2).ToUTF16(false).IsEmpty());
    const wchar_t beyondUnicode[] = {static_cast<wchar_t>(0x110000)};
    EXPECT_TRUE(TqUnicodeString(beyondUnicode, 1).ToUTF16(false).IsEmpty());
    const wchar_t negative[] = {static_cast<wchar_t>(-1)};
    EXPECT_TRUE(TqUnicodeString(negative, 1).ToUTF16(true).IsEmpty());
}

TEST_F(TqUnicodeStringCLocaleTest, AsciiPassesAndTheRestIsRefused)
{
    ASSERT_TRUE(UseLocale("C"));
    EXPECT_EQ("abc", Bytes(TqUnicodeString(L"abc").ToUTF8()));
    EXPECT_EQ("abc", Bytes(TqUnicodeString(L"abc").GetMultibyteString()));
    EXPECT_TRUE(TqUnicodeString(L"a\u00E4").ToUTF8().IsEmpty());
    EXPECT_TRUE(TqUnicodeString(L"a\u00E4").GetMultibyteString().IsEmpty());

    TqUnicodeString s(L"old");
    s.FromUTF8("abc");
    EXPECT_EQ(L"abc", Text(s));
    s.FromUTF8("a\xC3\xA4");
    EXPECT_TRUE(s.IsEmpty());

    EXPECT_EQ(L"abc", Text(TqString("abc").GetUnicode()));
    EXPECT_TRUE(TqString("a\xC3\xA4").GetUnicode().IsEmpty());
    EXPECT_TRUE(TqString().GetUnicode().IsEmpty());
    EXPECT_TRUE(TqUnicodeString("a\xC3\xA4").IsEmpty());
    EXPECT_EQ("abc", Bytes(TqString(L"abc")));
    EXPECT_TRUE(TqString(L"a\u00E4").IsEmpty());
    EXPECT_TRUE(TqString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
    EXPECT_EQ(L"\u00E4", Text(TqUnicodeString(L"\u00E4").ToUpper()));
}

TEST_F(TqUnicodeStringUtf8LocaleTest, MultibyteCapacityCutsWhatDoesNotFit)
{
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    const TqUnicodeString euros(L"\u20AC\u20AC\u20AC");
    EXPECT_EQ("\xE2\x82\xAC\xE2\x82\xAC", Bytes(euros.GetMultibyteString()));
    EXPECT_EQ("\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", Bytes(euros.ToUTF8()));
    EXPECT_EQ("\xF0\x9F\x98\x80", Bytes(TqUnicodeString(L"\U0001F600").ToUTF8()));
    EXPECT_TRUE(TqUnicodeString(L"\U0001F600").GetMultibyteString().IsEmpty());
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F"
              "e",
              Bytes(TqString(L"Gr\u00FC\u00DFe")));
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F"
              "e",
              Bytes(TqString(L"Gr\u00FC\u00DFe!", 5)));
}

TEST_F(TqUnicodeStringUtf8LocaleTest, DecodingTakesValidTextOnly)
{
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    const char* grusse = "Gr\xC3\xBC\xC3\x9F"
                         "e";
    TqUnicodeString s;
    s.FromUTF8(grusse);
    EXPECT_EQ(L"Gr\u00FC\u00DFe", Text(s));
    s.FromUTF8(grusse, 3);
    EXPECT_EQ(L"Gr\u00FC", Text(s));
    s.FromUTF8("abc", 2);
    EXPECT_EQ(L"ab", Text(s));
    s.FromUTF8("abc", 100);
    EXPECT_EQ(L"abc", Text(s));
    s.FromUTF8("a\xFF");
    EXPECT_TRUE(s.IsEmpty());
    s = TqUnicodeString(L"x");
    s.FromUTF8("a\xE2\x82");
    EXPECT_TRUE(s.IsEmpty());
    s = TqUnicodeString(L"x");
    s.FromUTF8(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s.FromUTF8("abc", 0);
    EXPECT_TRUE(s.IsEmpty());
    s.FromUTF8("abc", 2147483648UL);
    EXPECT_TRUE(s.IsEmpty());

    EXPECT_EQ(L"Gr\u00FC\u00DFe", Text(TqString(grusse).GetUnicode()));
    EXPECT_EQ(L"Gr\u00FC\u00DFe", Text(TqUnicodeString(grusse)));
    EXPECT_TRUE(TqString("ok\xFF").GetUnicode().IsEmpty());
    EXPECT_TRUE(TqString("ok\xE2\x82").GetUnicode().IsEmpty());
    // Only the counted bytes are converted.
    EXPECT_EQ(L"Gr", Text(TqUnicodeString(grusse, 2)));
}

TEST_F(TqUnicodeStringUtf8LocaleTest, CaseFollowsTheLocale)
{
    ASSERT_TRUE(UseLocale("C.UTF-8"));
    const TqUnicodeString mixed(L"\u00E4b\u00C9");
    EXPECT_EQ(L"\u00C4B\u00C9", Text(mixed.ToUpper()));
    EXPECT_EQ(L"\u00E4b\u00E9", Text(mixed.ToLower()));
    EXPECT_TRUE(mixed.EqualsIgnoreCase(TqUnicodeString(L"\u00C4B\u00E9")));
    EXPECT_EQ(1UL, TqUnicodeString(L"x\u00C4b").IndexOfIgnoreCase(TqUnicodeString(L"\u00E4B"), 0));
    EXPECT_EQ(2UL, TqUnicodeString(L"\u00E4x\u00C4").IndexLastOfIgnoreCase(TqUnicodeString(L"\u00E4")));
}
