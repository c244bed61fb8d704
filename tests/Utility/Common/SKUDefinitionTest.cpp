#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ModelTexts.h"
#include "SKUDefinition.h"
#include "TemporaryFolder.h"
#include "XMLReading.h"
#include "XMLParser.h"

namespace
{

using Lists = std::map<std::string, std::vector<std::string>>;
using Texts = std::vector<std::string>;

std::string dataPath(const char* name)
{
    return std::string(TEST_DATA_DIR) + "/" + name;
}

SKUDefinition readText(const char* xml)
{
    SKUDefinition definition;
    definition.parse(TqString(xml));
    return definition;
}

SKUDefinition readFile(const std::string& path)
{
    SKUDefinition definition;
    definition.fromFile(TqString(path.c_str()));
    return definition;
}

const char* const fullDocument = R"(<product>
  <sku ID="7" name="Studio" build="99" prefix="ST"/>
  <families>
    <family name="A"><plugins><plugin name="a1"/></plugins><featuresmask name="f"/><contentmask name="1"/></family>
  </families>
  <hosts><host name="H" families="A" compilerOptions="-g"/></hosts>
  <installFiles><file fileName="x"/></installFiles>
  <install><link url="L"/><noAccount><internetOn url="On"/><internetOff url="Off"/></noAccount></install>
</product>)";

} // namespace

TEST(SKUDefinitionTest, ReadsEveryPartOfACompleteFile)
{
    SKUDefinition model = readFile(dataPath("full.xml"));

    EXPECT_EQ("SKU-100", text(model.skuInfo.id));
    EXPECT_EQ("T\xC3\xB6nstudio Pro", text(model.skuInfo.name));
    EXPECT_EQ("1234", text(model.skuInfo.build));
    EXPECT_EQ("TSP", text(model.skuInfo.prefix));
    EXPECT_EQ("T\xC3\xB6nstudio Pro", text(model.getSKUInfo().name));

    // Longer keys sort first.
    EXPECT_EQ((Texts{"Reverb", "Delay"}), keys(model.familyPlugins));
    EXPECT_EQ((Lists{{"Reverb", {"Hall", "Plate"}}, {"Delay", {"Echo"}}}), textMap(model.familyPlugins));
    EXPECT_EQ((Lists{{"Reverb", {"HallPresets"}}}), textMap(model.familyContents));
    EXPECT_EQ((std::map<std::string, std::string>{{"Reverb", "ff00"}}), textMap(model.familyContentMasks));
    ASSERT_EQ(2u, model.familyFeatureMasks.size());
    const TqBitSet& reverbMask = model.familyFeatureMasks.at(TqString("Reverb"));
    EXPECT_EQ(64u, reverbMask.Size());
    EXPECT_TRUE(reverbMask.Test(0));
    EXPECT_TRUE(reverbMask.Test(32));
    EXPECT_FALSE(reverbMask.Test(1));
    EXPECT_EQ(32u, model.familyFeatureMasks.at(TqString("Delay")).Size());

    EXPECT_EQ((Texts{"Studio", "Live"}), texts(model.hostNames));
    EXPECT_EQ((Texts{"Studio32", "Studio", "Live"}), texts(model.hostVariants));
    EXPECT_EQ((Lists{{"Studio32", {"Reverb"}}, {"Studio", {"Reverb"}}}), textMap(model.hostFamilies));
    EXPECT_EQ((Texts{"Studio"}), texts(model.buildHostNames));
    EXPECT_EQ((Texts{"Studio"}), texts(model.buildHostVariants));
    EXPECT_TRUE(model.buildHostFamilies.empty());
    // One options map for both lists: the build list's options replace the general ones.
    EXPECT_EQ((std::map<std::string, std::string>{{"Studio", "-O3"}}), textMap(model.hostCompilerOptions));

    const FileNode& root = model.installRoot;
    EXPECT_TRUE(root.isDirectory);
    EXPECT_FALSE(root.name.IsSet());
    EXPECT_EQ((Texts{"README.txt", "Plugins"}), keys(root.children));
    const FileNode& plugins = root.children.at(TqString("Plugins"));
    EXPECT_TRUE(plugins.isDirectory);
    EXPECT_TRUE(plugins.dontDelete);
    EXPECT_FALSE(plugins.parentName.IsSet());
    EXPECT_EQ((Texts{"Hall.so", "Presets"}), keys(plugins.children));
    const FileNode& hall = plugins.children.at(TqString("Hall.so"));
    EXPECT_FALSE(hall.isDirectory);
    EXPECT_EQ(1, hall.isX86);
    EXPECT_TRUE(hall.dontDelete);
    EXPECT_EQ("Release", text(hall.configuration));
    EXPECT_EQ("Plugins", text(hall.parentName));
    EXPECT_EQ("Hall", text(hall.shortCut.name));
    EXPECT_EQ("Desktop", text(hall.shortCut.dir));
    const FileNode& preset = plugins.children.at(TqString("Presets")).children.at(TqString("Default.preset"));
    EXPECT_FALSE(preset.dontDelete);
    EXPECT_TRUE(preset.allowDowngrade);
    EXPECT_EQ("Presets", text(preset.parentName));
    const FileNode& readme = root.children.at(TqString("README.txt"));
    EXPECT_TRUE(readme.ignoreInstallErrors);
    EXPECT_FALSE(readme.dontDelete);
    EXPECT_EQ(0, readme.isX86);

    EXPECT_EQ("https://example.com/register", text(model.installLinkUrl));
    EXPECT_EQ("https://example.com/on", text(model.internetOnUrl));
    EXPECT_EQ("file:///offline.html", text(model.internetOffUrl));
}

TEST(SKUDefinitionTest, UnreadableInputGivesAnEmptyModel)
{
    expectEmptyModel(readFile(dataPath("no-such-file.xml")), "missing file");
    expectEmptyModel(readFile(dataPath("empty.xml")), "zero bytes");
    expectEmptyModel(readFile(dataPath("binary.bin")), "binary");
    expectEmptyModel(readFile(TEST_DATA_DIR), "a directory");
    expectEmptyModel(readFile(""), "empty path");
    expectEmptyModel(readText(""), "empty text");
    expectEmptyModel(readText("<products><sku name=\"X\"/></products>"), "no product element");
    expectEmptyModel(readText("<Product><sku name=\"X\"/></Product>"), "letter case of product");
    // A comment whose text is the element's name is found first and is not an element.
    expectEmptyModel(readText("<!--product--><product><sku name=\"X\"/></product>"), "comment");
}

// Holds definition files written by a test in a fresh temporary directory.
class SKUDefinitionFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        directory = temporary.path();
    }

    SKUDefinition readWritten(const std::string& content)
    {
        const std::string path = directory + "/sku" + std::to_string(written.size()) + ".xml";
        FILE* file = fopen(path.c_str(), "wb");
        EXPECT_NE(nullptr, file);
        if (file)
        {
            fwrite(content.data(), 1, content.size(), file);
            fclose(file);
            written.push_back(path);
        }
        return readFile(path);
    }

    TemporaryFolder temporary{"sku-definition"};
    std::string directory;
    std::vector<std::string> written;
};

TEST_F(SKUDefinitionFileTest, ReadsFilesAsTheParserLoadsThem)
{
    // Line ends CR LF and CR become LF, also inside values.
    SKUDefinition lineEnds = readWritten("<product>\r\n<sku name=\"A\r\nB\" ID=\"C\rD\"/>\r</product>\r\n");
    EXPECT_EQ("A\nB", text(lineEnds.skuInfo.name));
    EXPECT_EQ("C\nD", text(lineEnds.skuInfo.id));

    // Nothing after a NUL byte is read: the product element is left open after sku.
    SKUDefinition cut =
        readWritten(std::string("<product><sku name=\"X\"/>\0<families><family name=\"F\">"
                                "<plugins><plugin name=\"p\"/></plugins></family></families></product>",
                                119));
    EXPECT_EQ("X", text(cut.skuInfo.name));
    EXPECT_TRUE(cut.familyPlugins.empty());

    // The same text as a string reads the same as from a file.
    const std::string plain = "<product><sku name=\"Same\" build=\"3\"/></product>";
    EXPECT_EQ("3", text(readWritten(plain).skuInfo.build));
    EXPECT_EQ("3", text(readText(plain.c_str()).skuInfo.build));
}

// What a read gives, in one text: identity, lists and the install-file tree's names and flags.
std::string summary(const SKUDefinition& model)
{
    std::string out = text(model.skuInfo.id) + "|" + text(model.skuInfo.name) + "|";
    for (const auto& [family, plugins] : model.familyPlugins)
    {
        out += text(family) + ":";
        for (const TqString& plugin : plugins)
            out += text(plugin) + ",";
    }
    out += "|";
    for (const TqString& variant : model.hostVariants)
        out += text(variant) + ",";
    std::vector<std::pair<const FileNode*, int>> pending{{&model.installRoot, 0}};
    while (!pending.empty())
    {
        const auto [node, level] = pending.back();
        pending.pop_back();
        out += "|" + std::to_string(level) + text(node->name) + (node->dontDelete ? "!" : "");
        for (const auto& entry : node->children)
            pending.push_back({&entry.second, level + 1});
    }
    return out;
}

TEST_F(SKUDefinitionFileTest, ReadsFilesLikeTheParsersOwnFileLoading)
{
    const std::vector<std::string> pieces = {"<product>",
                                             "</product>",
                                             "<sku name=\"",
                                             "\" ID='x\r\ny'/>",
                                             "\r",
                                             "\n",
                                             "\r\n",
                                             "<families><family name=\"F\">",
                                             "<plugins><plugin name=\"p\r\"/></plugins></family></families>",
                                             "<hosts><host name=\"H\" arch=\"x86;x64\"/></hosts>",
                                             "<installFiles><directory fileName=\"d\" dontdelete=\"1\">",
                                             "<file fileName=\"f\r\"/>",
                                             "</directory></installFiles>",
                                             std::string(1, '\0'),
                                             "&#13;",
                                             "<!--\r-->",
                                             " "};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round)
    {
        std::string content = "<product><sku name=\"N\"/>";
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i)
            content += pieces[random() % pieces.size()];
        content += "</product>";
        const SKUDefinition ours = readWritten(content);

        TiXmlDocument document;
        FILE* file = fopen(written.back().c_str(), "rb");
        ASSERT_NE(nullptr, file);
        document.LoadFile(file, TIXML_DEFAULT_ENCODING);
        fclose(file);
        SKUDefinition theirs;
        theirs.parseInner(document);
        ASSERT_EQ(summary(theirs), summary(ours)) << content;
        // A document handed in stays whole: reading it again gives the same model.
        SKUDefinition again;
        again.parseInner(document);
        ASSERT_EQ(summary(theirs), summary(again)) << content;
    }
}

TEST(SKUDefinitionTest, MalformedXmlGivesWhatThePartialTreeHolds)
{
    SKUDefinition model = readFile(dataPath("malformed.xml"));
    EXPECT_EQ("Partial Product", text(model.skuInfo.name));
    // The parser keeps the unfinished last element with the attributes it had read.
    EXPECT_EQ((Lists{{"Reverb", {"Hall", "Plate"}}}), textMap(model.familyPlugins));
    EXPECT_TRUE(model.familyFeatureMasks.empty());
    EXPECT_TRUE(model.hostNames.empty());

    expectEmptyModel(readText("<product"), "cut inside the root");
    expectEmptyModel(readText("\x01\x02<<<>>>&&"), "garbage");
}

TEST(SKUDefinitionTest, ReadsTheProductIdentity)
{
    SKUDefinition later = readText(
        R"(<product><hosts/><!-- note --><sku ID="1" name="First" build="b" prefix="p"/><sku name="Second"/></product>)");
    EXPECT_EQ("1", text(later.skuInfo.id));
    EXPECT_EQ("First", text(later.skuInfo.name));
    EXPECT_EQ("b", text(later.skuInfo.build));
    EXPECT_EQ("p", text(later.skuInfo.prefix));

    SKUDefinition emptyName = readText(R"(<product><sku name="" build="2"/></product>)");
    EXPECT_FALSE(emptyName.skuInfo.name.IsSet());
    EXPECT_FALSE(emptyName.skuInfo.id.IsSet());
    EXPECT_EQ("2", text(emptyName.skuInfo.build));

    // Attribute and element names match exactly.
    SKUDefinition wrongCase = readText(R"(<product><sku Name="X" id="Y"/></product>)");
    EXPECT_FALSE(wrongCase.skuInfo.name.IsSet());
    EXPECT_FALSE(wrongCase.skuInfo.id.IsSet());
    EXPECT_FALSE(readText(R"(<product><SKU name="X"/></product>)").skuInfo.name.IsSet());

    SKUDefinition fromMinimalFile = readFile(dataPath("minimal.xml"));
    EXPECT_EQ("Minimal", text(fromMinimalFile.getSKUInfo().name));
    EXPECT_FALSE(fromMinimalFile.getSKUInfo().prefix.IsSet());
}

TEST(SKUDefinitionTest, DuplicateFamiliesKeepTheFirstListsAndTheLastContentMask)
{
    SKUDefinition model = readText(R"(<product><families>
        <family name="A"><plugins><plugin name="p1"/></plugins><contents><content name="c1"/></contents>
          <featuresmask name="1"/><contentmask name="m1"/></family>
        <family name="A"><plugins><plugin name="p2"/></plugins><contents><content name="c2"/></contents>
          <featuresmask name="2"/><contentmask name="m2"/></family>
      </families></product>)");
    EXPECT_EQ((Lists{{"A", {"p1"}}}), textMap(model.familyPlugins));
    EXPECT_EQ((Lists{{"A", {"c1"}}}), textMap(model.familyContents));
    EXPECT_EQ((std::map<std::string, std::string>{{"A", "m2"}}), textMap(model.familyContentMasks));
    const TqBitSet& mask = model.familyFeatureMasks.at(TqString("A"));
    EXPECT_TRUE(mask.Test(0));
    EXPECT_FALSE(mask.Test(1));
}

TEST(SKUDefinitionTest, SkipsFamiliesAndItemsWithoutNames)
{
    SKUDefinition model = readText(R"(<product><families>
        <family><plugins><plugin name="orphan"/></plugins></family>
        <family name="NoNames"><plugins><plugin/><plugin/></plugins><contents><content/></contents></family>
        <family name="Mixed"><plugins><plugin name="a"/><plugin/><!--plugin--><plugin name=""/><Plugin name="z"/></plugins>
          <plugins><plugin name="second list"/></plugins></family>
        <family name=""><plugins><plugin name="e"/></plugins></family>
        <family name="ContentsOnly"><contents><content name="c"/></contents><contentmask name=""/></family>
        <Family name="Upper"><plugins><plugin name="u"/></plugins></Family>
      </families></product>)");
    EXPECT_EQ((Lists{{"Mixed", {"a", ""}}, {"", {"e"}}}), textMap(model.familyPlugins));
    EXPECT_EQ((Lists{{"ContentsOnly", {"c"}}}), textMap(model.familyContents));
    EXPECT_EQ((std::map<std::string, std::string>{{"ContentsOnly", ""}}), textMap(model.familyContentMasks));
}

TEST(SKUDefinitionTest, StoresFeatureMasksAsBitSets)
{
    SKUDefinition model = readText(R"(<product><families>
        <family name="Wide"><featuresmask name="100000001"/></family>
        <family name="Broken"><featuresmask name="FFFFFFFFx"/></family>
        <family name="Empty"><featuresmask name=""/></family>
        <family name="NoName"><featuresmask mask="1"/></family>
      </families></product>)");
    EXPECT_EQ((Texts{"Broken", "Empty", "Wide"}), keys(model.familyFeatureMasks));
    const TqBitSet& wide = model.familyFeatureMasks.at(TqString("Wide"));
    EXPECT_EQ(64u, wide.Size());
    EXPECT_TRUE(wide.Test(0) && wide.Test(32));
    const TqBitSet& broken = model.familyFeatureMasks.at(TqString("Broken"));
    EXPECT_EQ(32u, broken.Size());
    EXPECT_TRUE(broken.Test(0) && broken.Test(3));
    EXPECT_FALSE(broken.Test(4));
    EXPECT_EQ(0u, model.familyFeatureMasks.at(TqString("Empty")).Size());
}

TEST(SKUDefinitionTest, RegistersHostVariantsPerArchitecture)
{
    SKUDefinition model = readText(R"(<product><hosts>
        <host name="Foo" arch="X86;x64" families="A;B"/>
        <host name="Semi" arch=";"/>
        <host name="Arm" arch="arm" families="A" compilerOptions="-x"/>
        <host name="NoFamilies" families=";;" compilerOptions="-O1"/>
        <host name="" arch="x86"/>
        <host name="Blank" arch=" x64;x86"/>
        <host families="A"/>
        <host name="Foo" arch="x64" families="C" compilerOptions="-last"/>
        <Host name="Upper"/>
      </hosts></product>)");
    EXPECT_EQ((Texts{"Foo", "Semi", "Arm", "NoFamilies", "", "Blank", "Foo"}), texts(model.hostNames));
    EXPECT_EQ((Texts{"Foo32", "Foo", "Semi", "NoFamilies", "32", "Blank32", "Foo"}),
              texts(model.hostVariants));
    EXPECT_EQ((Lists{{"Foo32", {"A", "B"}}, {"Foo", {"C"}}}), textMap(model.hostFamilies));
    EXPECT_EQ((std::map<std::string, std::string>{{"NoFamilies", "-O1"}, {"Foo", "-last"}}),
              textMap(model.hostCompilerOptions));
}

TEST(SKUDefinitionTest, BuildHostListsAreCopiesWhenAbsent)
{
    SKUDefinition copied = readText(R"(<product><hosts>
        <host name="Foo" arch="x86;x64" families="A" compilerOptions="-O2"/><host name="Bar"/>
      </hosts></product>)");
    EXPECT_EQ(texts(copied.hostNames), texts(copied.buildHostNames));
    EXPECT_EQ((Texts{"Foo32", "Foo", "Bar"}), texts(copied.buildHostVariants));
    EXPECT_EQ((Lists{{"Foo32", {"A"}}, {"Foo", {"A"}}}), textMap(copied.buildHostFamilies));
    EXPECT_EQ((std::map<std::string, std::string>{{"Foo32", "-O2"}, {"Foo", "-O2"}}),
              textMap(copied.hostCompilerOptions));

    SKUDefinition both = readText(R"(<product>
        <hostsForBuild><host name="Foo" compilerOptions="-O3" families="B"/><host name="Baz"/></hostsForBuild>
        <hosts><host name="Foo" compilerOptions="-O2"/><host name="Only" compilerOptions="-Os"/></hosts>
      </product>)");
    EXPECT_EQ((Texts{"Foo", "Only"}), texts(both.hostVariants));
    EXPECT_EQ((Texts{"Foo", "Baz"}), texts(both.buildHostNames));
    EXPECT_EQ((Texts{"Foo", "Baz"}), texts(both.buildHostVariants));
    EXPECT_TRUE(both.hostFamilies.empty());
    EXPECT_EQ((Lists{{"Foo", {"B"}}}), textMap(both.buildHostFamilies));
    EXPECT_EQ((std::map<std::string, std::string>{{"Foo", "-O3"}}), textMap(both.hostCompilerOptions));

    SKUDefinition emptyHosts = readText(R"(<product><hosts></hosts></product>)");
    EXPECT_TRUE(emptyHosts.hostNames.empty());
    EXPECT_TRUE(emptyHosts.buildHostVariants.empty());
    EXPECT_TRUE(emptyHosts.hostCompilerOptions.empty());
}

TEST(SKUDefinitionTest, FillHostsInfoAppendsAndEmptiesOnlyTheOptions)
{
    std::vector<TqString> names{TqString("Old")};
    std::vector<TqString> variants{TqString("Old")};
    std::map<TqString, std::vector<TqString>> families{{TqString("Old"), {TqString("F")}}};
    std::map<TqString, TqString> options{{TqString("Old"), TqString("-O0")}};

    SKUDefinition::fillHostsInfo(nullptr, names, variants, families, options);
    EXPECT_EQ(1u, options.size());

    TiXmlDocument document;
    document.Parse(R"(<hosts><host name="New" arch="x86" families="G"/></hosts>)");
    SKUDefinition::fillHostsInfo(document.RootElement(), names, variants, families, options);
    EXPECT_EQ((Texts{"Old", "New"}), texts(names));
    EXPECT_EQ((Texts{"Old", "New32"}), texts(variants));
    EXPECT_EQ((Lists{{"Old", {"F"}}, {"New32", {"G"}}}), textMap(families));
    EXPECT_TRUE(options.empty());
}

TEST(SKUDefinitionTest, ReadsInstallUrls)
{
    SKUDefinition model =
        readText(R"(<product><install><link url="L1"/><link url="L2"/><noAccount><internetOn/>
        <internetOff url="Off"/></noAccount></install><install><link url="Later"/></install></product>)");
    EXPECT_EQ("L1", text(model.installLinkUrl));
    EXPECT_FALSE(model.internetOnUrl.IsSet());
    EXPECT_EQ("Off", text(model.internetOffUrl));

    SKUDefinition noAccount = readText(R"(<product><install><link/></install></product>)");
    EXPECT_FALSE(noAccount.installLinkUrl.IsSet());
    EXPECT_FALSE(noAccount.internetOffUrl.IsSet());
}

// A second read into the same object keeps nothing of the first document.
TEST(SKUDefinitionTest, EveryReadStartsFromAnEmptyModel)
{
    SKUDefinition model;
    model.parse(TqString(fullDocument));
    ASSERT_EQ("ST", text(model.skuInfo.prefix));
    ASSERT_EQ(1u, model.familyFeatureMasks.size());
    ASSERT_TRUE(model.installRoot.isDirectory);

    model.clear();
    expectEmptyModel(model, "after clear");

    model.parse(TqString(fullDocument));
    model.fromFile(TqString(dataPath("no-such-file.xml").c_str()));
    expectEmptyModel(model, "a missing file after a full read");

    model.parse(TqString(fullDocument));
    model.parse(TqString(R"(<product><sku name="Other"/><families>
        <family name="A"><plugins><plugin name="a2"/></plugins><featuresmask name="2"/></family>
      </families></product>)"));
    EXPECT_EQ("Other", text(model.skuInfo.name));
    EXPECT_FALSE(model.skuInfo.prefix.IsSet());
    EXPECT_TRUE(model.familyContentMasks.empty());
    EXPECT_TRUE(model.hostFamilies.empty());
    EXPECT_TRUE(model.hostCompilerOptions.empty());
    EXPECT_FALSE(model.installLinkUrl.IsSet());
    EXPECT_FALSE(model.internetOnUrl.IsSet());
    EXPECT_FALSE(model.installRoot.isDirectory);
    const TqBitSet& mask = model.familyFeatureMasks.at(TqString("A"));
    EXPECT_FALSE(mask.Test(0));
    EXPECT_TRUE(mask.Test(1));
}

// The identity alone is what a whole read gives, of a well-formed file and of a broken one, and
// nothing else is read; an earlier read's model does not stay. A large file's identity may come
// from its start alone: not when the sku element goes on past it, stands after it, or the file
// nests too deeply further on.
TEST_F(SKUDefinitionFileTest, TheIdentityAloneIsReadAsAWholeReadReadsIt)
{
    std::string files;
    while (files.size() <= XMLReading::leadBytes)
        files += "<file fileName=\"a file of the product\"/>";
    std::string deep;
    for (size_t level = 0; level <= XMLReading::deepestNesting; ++level)
        deep = "<a>" + deep + "</a>";
    for (const std::string& content :
         {std::string(fullDocument), std::string(R"(<product><hosts/><sku ID="1" name="First"/><sku name="Second"/>)"),
          std::string("<product><sku name=\"Cut"),
          "<product><sku ID=\"7\" name=\"Big\" build=\"9\"/><installFiles>" + files + "</installFiles></product>",
          "<product><sku name=\"Broken later\"/><installFiles>" + files + "<file",
          "<product><installFiles>" + files + "</installFiles><sku name=\"Late\"/></product>",
          "<product><sku build=\"1\" name=\"" + std::string(XMLReading::leadBytes, 'n') + "\"/></product>",
          "<product><sku name=\"Deep\"/><installFiles>" + files + "</installFiles>" + deep + "</product>"})
    {
        const SKUDefinition whole = readWritten(content);
        const std::string shown = content.substr(0, 80);
        SKUDefinition identity = readText(fullDocument);
        identity.identityFromFile(TqString(written.back().c_str()));
        EXPECT_EQ(text(identity.skuInfo.id), text(whole.skuInfo.id)) << shown;
        EXPECT_EQ(text(identity.skuInfo.name), text(whole.skuInfo.name)) << shown;
        EXPECT_EQ(text(identity.skuInfo.build), text(whole.skuInfo.build)) << shown;
        EXPECT_EQ(text(identity.skuInfo.prefix), text(whole.skuInfo.prefix)) << shown;
        EXPECT_TRUE(identity.installRoot.children.empty());
        EXPECT_TRUE(identity.familyPlugins.empty());
    }
}
