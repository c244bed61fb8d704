// Product definitions built to hurt the reader: cut-off declarations, stray bytes, absurd nesting,
// huge attributes, huge lists and bytes that are not UTF-8. Each must give an empty or partial model
// without a crash, a hang or a leak (the sanitizer build checks the last two kinds of fault).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ModelTexts.h"
#include "SKUDefinition.h"
#include "TemporaryFolder.h"

namespace
{

SKUDefinition readText(const std::string& xml)
{
    SKUDefinition definition;
    definition.parse(TqString(xml.data(), xml.size()));
    return definition;
}

// A definition naming the product, with `depth` elements nested inside one another in all,
// `product` included.
std::string nestedDefinition(size_t depth)
{
    std::string xml = "<product><sku name=\"Deep\"/>";
    for (size_t level = 1; level < depth; ++level)
        xml += "<a>";
    for (size_t level = 1; level < depth; ++level)
        xml += "</a>";
    return xml + "</product>";
}

// Holds definition files in a fresh temporary directory for the file reader.
class HostileDefinitionFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        directory = temporary.path();
    }

    SKUDefinition readFile(const std::string& name, const std::string& content)
    {
        const std::string path = directory + "/" + name;
        FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file)
        {
            std::fwrite(content.data(), 1, content.size(), file);
            std::fclose(file);
            written.push_back(path);
        }
        SKUDefinition definition;
        definition.fromFile(TqString(path.c_str()));
        return definition;
    }

    TemporaryFolder temporary{"hostile-definition"};
    std::string directory;
    std::vector<std::string> written;
};

} // namespace

TEST(HostileDefinitionTest, CutOffDeclarationsGiveAnEmptyModel)
{
    for (const char* xml :
         {"<?xml ", "<?xml", "<?", "<?xml version=\"1.0\" encoding=", "<?xml version=\"1.0\"?><pro"})
    {
        SCOPED_TRACE(xml);
        expectEmptyModel(readText(xml));
    }
}

TEST(HostileDefinitionTest, TrailingLeadByteOfAByteOrderMark)
{
    // A complete definition followed by the first byte of a byte order mark keeps what it holds.
    const SKUDefinition complete = readText("<product><sku name=\"Kept\"/></product>\xEF");
    EXPECT_EQ("Kept", text(complete.skuInfo.name));

    // The partial tree of a tag cut off by that byte keeps the attributes read before it.
    EXPECT_EQ("x", text(readText("<product><sku name=\"x\"\xEF").skuInfo.name));

    // A document that is nothing but that byte, or the first two bytes of the mark, reads nothing.
    for (const char* xml : {"\xEF", "\xEF\xBB", "<product>\xEF\xBB"})
    {
        SCOPED_TRACE(xml);
        expectEmptyModel(readText(xml));
    }
}

TEST_F(HostileDefinitionFileTest, TrailingLeadByteInAFile)
{
    EXPECT_EQ("Kept", text(readFile("ef.xml", "<product><sku name=\"Kept\"/></product>\xEF").skuInfo.name));
    expectEmptyModel(readFile("only-ef.xml", "\xEF"));
    expectEmptyModel(readFile("declaration.xml", "<?xml "));
}

TEST(HostileDefinitionTest, DeepNestingIsRefusedAsAWhole)
{
    // The parser would need a stack level per element; such a definition is unusable as a whole.
    expectEmptyModel(readText(nestedDefinition(100000)));

    // Nesting of install directories, closed and left open, is refused the same way.
    std::string directories = "<product><sku name=\"Deep\"/><installFiles>";
    std::string closing;
    for (int level = 0; level < 100000; ++level)
    {
        directories += "<directory fileName=\"d\">";
        closing += "</directory>";
    }
    expectEmptyModel(readText(directories));
    expectEmptyModel(readText(directories + closing + "</installFiles></product>"));
}

TEST(HostileDefinitionTest, NestingUpTo256ElementsIsRead)
{
    EXPECT_EQ("Deep", text(readText(nestedDefinition(256)).skuInfo.name));
    EXPECT_FALSE(readText(nestedDefinition(257)).skuInfo.name.IsSet());

    // product, installFiles and 254 directories: the whole tree is there.
    std::string xml = "<product><installFiles>";
    for (int level = 0; level < 254; ++level)
        xml += "<directory fileName=\"d\">";
    for (int level = 0; level < 254; ++level)
        xml += "</directory>";
    xml += "</installFiles></product>";
    const SKUDefinition definition = readText(xml);
    const FileNode* node = &definition.installRoot;
    int depth = 0;
    while (!node->children.empty())
    {
        node = &node->children.begin()->second;
        ++depth;
    }
    EXPECT_EQ(254, depth);
}

TEST_F(HostileDefinitionFileTest, DeepNestingInAFileIsRefused)
{
    expectEmptyModel(readFile("deep.xml", nestedDefinition(100000)));
}

TEST(HostileDefinitionTest, AttributesOfOneMebibyteAreReadWhole)
{
    const size_t size = 1 << 20;
    const std::string name(size, 'n');
    const std::string mask(size, 'f');
    std::string families;
    while (families.size() < size)
        families += "Family;";
    const SKUDefinition definition =
        readText("<product><sku name=\"" + name +
                 "\"/><families><family name=\"F\"><plugins><plugin name=\"p\"/>"
                 "</plugins><featuresmask name=\"" +
                 mask + "\"/></family></families><hosts><host name=\"H\" families=\"" + families +
                 "\"/></hosts></product>");

    EXPECT_EQ(size, definition.skuInfo.name.Size());
    EXPECT_EQ(name, text(definition.skuInfo.name));
    // Eight hexadecimal digits give 32 bits: a mebibyte of "f" sets four mebibits.
    ASSERT_EQ(1u, definition.familyFeatureMasks.count(TqString("F")));
    const TqBitSet& bits = definition.familyFeatureMasks.at(TqString("F"));
    EXPECT_EQ(4ul * size, bits.Size());
    EXPECT_TRUE(bits.Test(0));
    EXPECT_TRUE(bits.Test(4 * size - 1));
    ASSERT_EQ(1u, definition.hostFamilies.count(TqString("H")));
    EXPECT_EQ(families.size() / 7, definition.hostFamilies.at(TqString("H")).size());
}

TEST(HostileDefinitionTest, OneHundredThousandSiblingHosts)
{
    std::string xml = "<product><families><family name=\"F\"><plugins><plugin name=\"p\"/></plugins></family>"
                      "</families><hosts>";
    for (int i = 0; i < 100000; ++i)
        xml += "<host name=\"H" + std::to_string(i) + "\" arch=\"x86;x64\"/>";
    xml += "</hosts></product>";
    SKUDefinition definition = readText(xml);

    ASSERT_EQ(100000u, definition.hostNames.size());
    ASSERT_EQ(200000u, definition.hostVariants.size());
    EXPECT_EQ("H99999", text(definition.hostNames.back()));
    EXPECT_EQ("H9999932", text(definition.hostVariants[199998]));
    EXPECT_EQ(100000u, definition.buildHostNames.size());
    EXPECT_TRUE(definition.familyHasHost(TqString("F"), TqString("H99999")));
    EXPECT_TRUE(definition.familyHasHostBuild(TqString("F"), TqString("H032")));
    EXPECT_FALSE(definition.familyHasHost(TqString("F"), TqString("H100000")));
}

TEST(HostileDefinitionTest, BytesThatAreNotUtf8PassThroughNames)
{
    // Without a byte order mark the parser takes bytes as they come: names keep them unchanged.
    const SKUDefinition definition =
        readText("<product><sku name=\"N\xFF\xFE\" ID=\"\xC3\x28\"/><families>"
                 "<family name=\"\x80\x81\"><plugins><plugin name=\"\xF0\x9F\"/>"
                 "</plugins></family></families><hosts><host name=\"\xE2\x82\" "
                 "arch=\"x86\"/></hosts><installFiles><file fileName=\"\xFF.so\"/>"
                 "</installFiles></product>");
    EXPECT_EQ("N\xFF\xFE", text(definition.skuInfo.name));
    EXPECT_EQ("\xC3\x28", text(definition.skuInfo.id));
    ASSERT_EQ(1u, definition.familyPlugins.count(TqString("\x80\x81")));
    EXPECT_EQ("\xF0\x9F", text(definition.familyPlugins.at(TqString("\x80\x81")).front()));
    ASSERT_EQ(1u, definition.hostVariants.size());
    EXPECT_EQ("\xE2\x82"
              "32",
              text(definition.hostVariants.front()));
    EXPECT_EQ(1u, definition.installRoot.children.count(TqString("\xFF.so")));

    // Declared UTF-8, a cut-off sequence before the closing quote must not swallow the rest unread
    // past the end: whatever is read, the reader ends and the earlier attribute is kept.
    const SKUDefinition declared = readText("\xEF\xBB\xBF<product><sku ID=\"ok\" name=\"\xF0\"/></product>");
    EXPECT_EQ("ok", text(declared.skuInfo.id));
}

TEST(HostileDefinitionTest, TextEndsAtItsFirstNul)
{
    // The parser steps a whole UTF-8 sequence past a lead byte, over a NUL that cuts the sequence
    // short; what follows that NUL is not part of the text and must not reach the model.
    const std::string head = "\xEF\xBB\xBF<product><sku name=\"A\"/><hosts>\xE0";
    const std::string hidden = "x<host name=\"Hidden\"/></hosts></product>";
    const SKUDefinition definition = readText(head + std::string(1, '\0') + hidden);
    EXPECT_EQ("A", text(definition.skuInfo.name));
    EXPECT_TRUE(definition.hostNames.empty());
    EXPECT_TRUE(definition.hostVariants.empty());
}
