#include <gtest/gtest.h>

#include "LineEscaping.h"

TEST(LineEscapingTest, EscapesControlsBackslashAndBrokenUtf8Only)
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
        {"c1 \xC2\x9B" "31m", "c1 \\xC2\\x9B31m"},
        {"nbsp\xC2\xA0ok", "nbsp\xC2\xA0ok"},
        {"latin1 \xE9t\xE9", "latin1 \\xE9t\\xE9"},
        {"overlong \xC0\xAF", "overlong \\xC0\\xAF"},
        {"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
        {TqString("nul\0x", 5), "nul\\x00x"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.expected, EscapeLineText(c.text).ConstData()) << c.expected;
}
