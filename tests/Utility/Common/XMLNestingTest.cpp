#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "XMLNesting.h"
#include "XMLParser.h"

namespace
{

size_t deepest(const std::string& text, size_t limit = 1000)
{
    return XMLNesting::deepest(text.data(), text.size(), limit);
}

// The deepest element in the tree the parser builds from text, walked without recursion.
size_t treeDepth(const TiXmlNode* root)
{
    size_t deepestLevel = 0;
    std::vector<std::pair<const TiXmlNode*, size_t>> pending{{root, 0}};
    while (!pending.empty())
    {
        const auto [node, level] = pending.back();
        pending.pop_back();
        const size_t here = level + (node->ToElement() ? 1 : 0);
        deepestLevel = std::max(deepestLevel, here);
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
            pending.push_back({child, here});
    }
    return deepestLevel;
}

} // namespace

TEST(XMLNestingTest, CountsElementsAndNotOtherNodes)
{
    EXPECT_EQ(0u, deepest(""));
    EXPECT_EQ(1u, deepest("<a/>"));
    EXPECT_EQ(2u, deepest("<a></a><b><c/></b>"));
    EXPECT_EQ(3u, deepest("<?xml version=\"1.0\"?><a><b><c>text</c></b></a>"));
    EXPECT_EQ(2u, deepest("<a x=\"1\" y='2'><b z=\"/>\"/></a>"));
    EXPECT_EQ(1u, deepest("<a><!-- <b><c><d> --><![CDATA[<b><c>]]><!DOCTYPE <b>></a>"));
    // Unclosed elements count as they open; counting stops past the limit.
    EXPECT_EQ(4u, deepest("<a><a><a><a>"));
    EXPECT_EQ(3u, deepest("<a><a><a><a><a>", 2));
    // Text outside every element ends the document for the parser.
    EXPECT_EQ(0u, deepest("text<a><b></b></a>"));
    // A value that runs on to the end stops the parser inside the first tag.
    EXPECT_EQ(1u, deepest("<a x=\"<b><c>"));
    // Bytes past the given length are not read.
    EXPECT_EQ(1u, XMLNesting::deepest("<a><b>", 3, 10));
}

TEST(XMLNestingTest, ReadsCharactersAsTheParserDoes)
{
    // A character reference runs to the next ';' and takes what lies between with it.
    EXPECT_EQ(1u, deepest("<a>&#x<b><c>x;</a>"));
    EXPECT_EQ(1u, deepest("<a>&#<b><c>#1;</a>"));
    // A UTF-8 lead byte takes the following bytes with it once a declaration asks for UTF-8, which
    // here hides the quote that would close the value.
    const std::string hidden = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a=\"\xF0\" z=\"><b><b><b>\"/>";
    EXPECT_EQ(4u, deepest(hidden));
    EXPECT_EQ(4u, deepest("\xEF\xBB\xBF<r a=\"\xF0\" z=\"><b><b><b>\"/>"));
    EXPECT_EQ(1u, deepest("<r a=\"\xF0\" z=\"><b><b><b>\"/>"));
}

// Texts built from the pieces that change how the parser reads what follows them: whatever the
// mix, the walk never reports less nesting than the tree the parser builds. When the parser reads
// the text without an error and no declaration leaves the encoding open, the two agree exactly.
TEST(XMLNestingTest, NeverBelowTheParsersOwnNesting)
{
    // The pieces, one per line.
    std::vector<std::string> pieces;
    std::istringstream lines(
        "<a>\n</a>\n<b x=\"1\">\n</b>\n<c/>\n<d y='\n'\n\"\n=\n \n>\n/>\n<\n</\n<!--\n-->\n"
        "<![CDATA[\n]]>\n<!\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<?x ?>\n&#x\nx;\n&#\n#9;\n"
        "&amp;\n&#x41;\n;\n\xF0\n\xE2\n\xC3\n\xEF\xBB\xBF\n\xEF\xBF\xBE\n<e k=v>\n</e>\ntext\n_\n\t\n"
        "<?XML version='1.0' encoding='utf-8'?>");
    for (std::string piece; std::getline(lines, piece);)
        pieces.push_back(piece);
    pieces.push_back("\n");
    std::mt19937 random(20260407);
    size_t exactReads = 0;
    for (int round = 0; round < 20000; ++round)
    {
        std::string text;
        const int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            text += pieces[random() % pieces.size()];
        // The parser's look-ahead past the end stays inside the padding.
        const std::string padded = text + std::string(4, '\0');
        TiXmlDocument document;
        document.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
        const size_t parsed = treeDepth(&document);
        const size_t walked = deepest(text);
        ASSERT_GE(walked, parsed) << "text: " << text;
        if (!document.Error() && text.find("<?xml") == std::string::npos &&
            text.find("<?XML") == std::string::npos)
        {
            ASSERT_EQ(walked, parsed) << "text: " << text;
            ++exactReads;
        }
    }
    EXPECT_GT(exactReads, 100u);
}
