#include <gtest/gtest.h>

#include "LineEscaping.h"

TEST(LineEscapingTest, EscapesControlsFormatCharactersBackslashAndBrokenUtf8Only)
{
    struct Case
    {
        TqString text;
        const char* expected;
    } cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5"},
        {"a\nsummary: 0 removed", "a\\nsummary: 0 removed"},
        {"tab\there", "tab\\there"},
        {"back\\slash", "back\\\\slash"},
        {"\x1B[2Jclear", "\\x1B[2Jclear"},
        {"cr\rdel\x7F", "cr\\x0Ddel\\x7F"},
        {"c1 \xC2\x9B"
         "31m",
         "c1 \\xC2\\x9B31m"},
        {"nbsp\xC2\xA0ok", "nbsp\xC2\xA0ok"},
        {"latin1 \xE9t\xE9", "latin1 \\xE9t\\xE9"},
        {"overlong \xC0\xAF", "overlong \\xC0\\xAF"},
        {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
        {TqString("nul\0x", 5), "nul\\x00x"},
        // Separators and format characters that end, reorder or hide a line: U+2028, U+2029,
        // RLO and PDF, LRI, ZWJ, the Arabic letter mark, BOM, a language tag (beyond the BMP).
        {"a\xE2\x80\xA8summary: 0 removed", "a\\u{2028}summary: 0 removed"},
        {"p\xE2\x80\xA9q", "p\\u{2029}q"},
        {"x\xE2\x80\xAE"
         "dwssap/cte\xE2\x80\xAC",
         "x\\u{202E}dwssap/cte\\u{202C}"},
        {"\xE2\x81\xA6i\xE2\x80\x8Dj\xD8\x9Ck\xEF\xBB\xBF", "\\u{2066}i\\u{200D}j\\u{061C}k\\u{FEFF}"},
        {"tag\xF3\xA0\x80\x81", "tag\\u{E0001}"},
        // Symbols drawn like "/" or "\\" (division, fraction and fullwidth slashes, big solidus; set
        // minus, small reverse solidus, one beyond the BMP); the katakana letter NO, a letter, stays.
        {"etc\xE2\x88\x95passwd \xE2\x81\x84\xEF\xBC\x8F\xE2\xA7\xB8",
         "etc\\u{2215}passwd \\u{2044}\\u{FF0F}\\u{29F8}"},
        {"a\xE2\x88\x96n \xEF\xB9\xA8x1B \xF0\x9D\x88\xBA \xE3\x83\x8E",
         "a\\u{2216}n \\u{FE68}x1B \\u{1D23A} \xE3\x83\x8E"},
        // Neighbours of those ranges stay: the en dash U+2013, U+2030, U+2065 (unassigned).
        {"\xE2\x80\x93\xE2\x80\xB0\xE2\x81\xA5", "\xE2\x80\x93\xE2\x80\xB0\xE2\x81\xA5"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.expected, EscapeLineText(c.text).ConstData()) << c.expected;
}

// What a reader of the lines gets back is the name byte for byte, whatever it held.
TEST(LineEscaping, UnescapingGivesBackEveryByte)
{
    for (const char* text : {"plain", "a\nb\tc\\d", "caf\xc3\xa9 \xff\xfe", "etc\xe2\x88\x95passwd",
                             "rtl\xe2\x80\xae" "fdp.exe", "\\x41 \\u{41}", "\x01\x7f\xc2\x85"})
    {
        const TqString original(text);
        EXPECT_EQ(std::string(UnescapeLineText(EscapeLineText(original)).ConstData()), text);
    }
    // What no escape made stays as written.
    EXPECT_EQ(std::string(UnescapeLineText("a\\q\\x4\\u{110000}").ConstData()), "a\\q\\x4\\u{110000}");
}
