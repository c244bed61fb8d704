#include <gtest/gtest.h>

#include "FileNode.h"
#include "ModelTexts.h"
#include "SKUDefinition.h"
#include "XMLParser.h"

namespace
{

using Texts = std::vector<std::string>;

// The install-file tree of a definition whose installFiles element holds the given entries.
FileNode readTree(const std::string& entries)
{
    SKUDefinition definition;
    definition.parse(TqString(("<product><installFiles>" + entries + "</installFiles></product>").c_str()));
    return definition.installRoot;
}

const FileNode& child(const FileNode& node, const char* name)
{
    return node.children.at(TqString(name));
}

} // namespace

TEST(FileNodeTest, StartsAsAnEmptyFileEntryAndCopiesDeeply)
{
    FileNode node;
    EXPECT_FALSE(node.name.IsSet());
    EXPECT_FALSE(node.isDirectory);
    EXPECT_TRUE(node.children.empty());
    EXPECT_FALSE(node.parentName.IsSet());
    EXPECT_EQ(0, node.isX86);
    EXPECT_FALSE(node.configuration.IsSet());
    EXPECT_FALSE(node.dontDelete || node.ignoreInstallErrors || node.allowDowngrade);
    EXPECT_FALSE(node.shortCut.name.IsSet() || node.shortCut.dir.IsSet());

    FileNode tree = readTree(R"(<directory fileName="D"><file fileName="f"/></directory>)");
    FileNode copy = tree;
    copy.children[TqString("D")].children.clear();
    EXPECT_EQ(1u, child(tree, "D").children.size());
    tree = copy;
    EXPECT_TRUE(child(tree, "D").children.empty());
}

TEST(FileNodeTest, ReadsOnlyTheOneCharacterFlagTexts)
{
    EXPECT_FALSE(getBoolFlagFromString(TqString("0"), true));
    EXPECT_TRUE(getBoolFlagFromString(TqString("1"), false));
    EXPECT_TRUE(getBoolFlagFromString(TqString("true"), true));
    EXPECT_FALSE(getBoolFlagFromString(TqString("true"), false));
    EXPECT_FALSE(getBoolFlagFromString(TqString("yes"), false));
    EXPECT_FALSE(getBoolFlagFromString(TqString(" 1"), false));
    EXPECT_FALSE(getBoolFlagFromString(TqString("01"), false));
    EXPECT_TRUE(getBoolFlagFromString(TqString(), true));
    EXPECT_FALSE(getBoolFlagFromString(TqString(), false));

    // The attribute-text form follows the same rule.
    EXPECT_FALSE(getBoolFlagFromString("0", true));
    EXPECT_TRUE(getBoolFlagFromString("1", false));
    EXPECT_TRUE(getBoolFlagFromString("10", true));
    EXPECT_FALSE(getBoolFlagFromString("", false));
    EXPECT_TRUE(getBoolFlagFromString(static_cast<const char*>(nullptr), true));
}

TEST(FileNodeTest, EntriesInheritFlagsFromTheirDirectory)
{
    FileNode root = readTree(R"(
        <file fileName="top"/>
        <directory fileName="Outer" dontdelete="1" ignoreinstallerrors="1">
          <file fileName="inherits"/>
          <file fileName="turnsOff" dontdelete="0"/>
          <file fileName="unknownValue" dontdelete="yes" ignoreinstallerrors="true"/>
          <directory fileName="Inner" ignoreinstallerrors="0" allowdowngrade="1">
            <file fileName="deep"/>
            <file fileName="deepOff" allowdowngrade="0"/>
          </directory>
          <directory fileName="Sibling"><file fileName="other"/></directory>
        </directory>)");
    const FileNode& top = child(root, "top");
    EXPECT_FALSE(top.isDirectory);
    EXPECT_FALSE(top.parentName.IsSet());
    EXPECT_FALSE(top.dontDelete || top.ignoreInstallErrors || top.allowDowngrade);

    const FileNode& outer = child(root, "Outer");
    EXPECT_TRUE(outer.dontDelete && outer.ignoreInstallErrors);
    EXPECT_FALSE(outer.allowDowngrade);
    EXPECT_TRUE(child(outer, "inherits").dontDelete);
    EXPECT_FALSE(child(outer, "turnsOff").dontDelete);
    EXPECT_TRUE(child(outer, "turnsOff").ignoreInstallErrors);
    EXPECT_TRUE(child(outer, "unknownValue").dontDelete);
    EXPECT_TRUE(child(outer, "unknownValue").ignoreInstallErrors);

    const FileNode& inner = child(outer, "Inner");
    const FileNode& deep = child(inner, "deep");
    EXPECT_TRUE(deep.dontDelete);
    EXPECT_FALSE(deep.ignoreInstallErrors);
    EXPECT_TRUE(deep.allowDowngrade);
    EXPECT_FALSE(child(inner, "deepOff").allowDowngrade);
    // The inner directory's "0" stays with its own entries.
    EXPECT_TRUE(child(child(outer, "Sibling"), "other").ignoreInstallErrors);

    // Entries below a parent take its flags even when the parent is not from the file.
    SKUDefinition definition;
    TiXmlDocument document;
    document.Parse(R"(<list><file fileName="f"/></list>)");
    FileNode keptParent;
    keptParent.dontDelete = true;
    definition.parseInstallFiles(keptParent, document.RootElement(), TqString("list"));
    EXPECT_TRUE(child(keptParent, "f").dontDelete);
    EXPECT_EQ("list", text(child(keptParent, "f").parentName));
}

TEST(FileNodeTest, ReadsArchitectureAndConfigurationAsWholeTexts)
{
    FileNode root = readTree(R"(
        <file fileName="upper" arch="X86" configuration="Debug"/>
        <file fileName="x64" arch="x64"/>
        <file fileName="ppc" arch="ppc"/>
        <file fileName="list" arch="x86;x64"/>
        <directory fileName="dir" arch="x86" configuration="ignored"/>)");
    EXPECT_EQ(1, child(root, "upper").isX86);
    EXPECT_EQ("Debug", text(child(root, "upper").configuration));
    EXPECT_EQ(0, child(root, "x64").isX86);
    EXPECT_EQ(0, child(root, "ppc").isX86);
    EXPECT_EQ(0, child(root, "list").isX86);
    EXPECT_EQ(1, child(root, "dir").isX86);
    EXPECT_TRUE(child(root, "dir").isDirectory);
    EXPECT_FALSE(child(root, "dir").configuration.IsSet());

    // A character reference can put a NUL inside a value; the texts end there.
    FileNode cut = readTree(R"(<file fileName="ab&#0;cd" arch="x86&#x0;z" configuration="Re&#0;lease"/>)");
    EXPECT_EQ((Texts{"ab"}), keys(cut.children));
    EXPECT_EQ(2u, child(cut, "ab").name.Size());
    EXPECT_EQ(1, child(cut, "ab").isX86);
    EXPECT_EQ(2u, child(cut, "ab").configuration.Size());
    EXPECT_EQ("Re", text(child(cut, "ab").configuration));
}

TEST(FileNodeTest, SkipsEntriesWithoutAFileName)
{
    FileNode root = readTree(R"(
        <directory fileName=""><file fileName="lost"/></directory>
        <directory><file fileName="lost too"/></directory>
        <file fileName=""/>
        <file name="noFileName"/>
        <File fileName="upper"/>
        <!--file-->
        <file fileName="kept"><directory fileName="insideFile"/></file>)");
    EXPECT_EQ((Texts{"kept"}), keys(root.children));
    EXPECT_TRUE(child(root, "kept").children.empty());
}

TEST(FileNodeTest, LaterEntriesReplaceEarlierOnesOfTheSameName)
{
    FileNode root = readTree(R"(
        <file fileName="same" configuration="first"/>
        <file fileName="same" configuration="second"/>
        <file fileName="both" configuration="file"/>
        <directory fileName="both"><file fileName="gone"/></directory>
        <directory fileName="twice"><file fileName="a"/></directory>
        <directory fileName="twice"><file fileName="b"/></directory>)");
    EXPECT_EQ("second", text(child(root, "same").configuration));
    const FileNode& both = child(root, "both");
    EXPECT_FALSE(both.isDirectory);
    EXPECT_TRUE(both.children.empty());
    EXPECT_EQ("file", text(both.configuration));
    EXPECT_EQ((Texts{"b"}), keys(child(root, "twice").children));

    // A file keeps its place against directories of its name before and after it, and a later
    // file still replaces it; files between directories do not split the directories' own order.
    FileNode mixed = readTree(R"(
        <directory fileName="n"><file fileName="d1"/></directory>
        <file fileName="n" configuration="f1"/>
        <directory fileName="n"><file fileName="d2"/></directory>
        <file fileName="n" configuration="f2"/>
        <directory fileName="n"><file fileName="d3"/></directory>
        <directory fileName="d"><file fileName="first"/></directory>
        <file fileName="other"/>
        <directory fileName="d"><file fileName="last"/></directory>)");
    EXPECT_EQ((Texts{"other", "d", "n"}), keys(mixed.children));
    EXPECT_FALSE(child(mixed, "n").isDirectory);
    EXPECT_TRUE(child(mixed, "n").children.empty());
    EXPECT_EQ("f2", text(child(mixed, "n").configuration));
    EXPECT_EQ((Texts{"last"}), keys(child(mixed, "d").children));

    // Entries a parent already holds are replaced by a directory as well as by a file.
    SKUDefinition definition;
    TiXmlDocument document;
    document.Parse(R"(<list><directory fileName="wasFile"><file fileName="in"/></directory>
                      <file fileName="wasDir" configuration="now"/></list>)");
    FileNode filled;
    filled.children[TqString("wasFile")].configuration = TqString("old");
    filled.children[TqString("wasDir")].isDirectory = true;
    filled.children[TqString("wasDir")].children[TqString("gone")].name = TqString("gone");
    definition.parseInstallFiles(filled, document.RootElement(), TqString("list"));
    EXPECT_TRUE(child(filled, "wasFile").isDirectory);
    EXPECT_FALSE(child(filled, "wasFile").configuration.IsSet());
    EXPECT_EQ((Texts{"in"}), keys(child(filled, "wasFile").children));
    EXPECT_FALSE(child(filled, "wasDir").isDirectory);
    EXPECT_TRUE(child(filled, "wasDir").children.empty());
    EXPECT_EQ("now", text(child(filled, "wasDir").configuration));
}

TEST(FileNodeTest, ReadsTheFirstShortCutOfAFile)
{
    FileNode root = readTree(R"(
        <file fileName="app"><shortCut name="App"/><shortCut name="Second" dir="Desk"/></file>
        <file fileName="full"><shortCut name="Full" dir="/Applications"/></file>
        <file fileName="commented"><!--shortCut--><shortCut name="X"/></file>
        <directory fileName="dir"><shortCut name="D" dir="d"/></directory>)");
    EXPECT_EQ("App", text(child(root, "app").shortCut.name));
    EXPECT_FALSE(child(root, "app").shortCut.dir.IsSet());
    EXPECT_EQ("Full", text(child(root, "full").shortCut.name));
    EXPECT_EQ("/Applications", text(child(root, "full").shortCut.dir));
    // The first node called shortCut is a comment, so the file has no shortcut.
    EXPECT_FALSE(child(root, "commented").shortCut.name.IsSet());
    EXPECT_FALSE(child(root, "dir").shortCut.name.IsSet());
}

TEST(FileNodeTest, ParentNameIsTheImmediateDirectoryOnly)
{
    FileNode root = readTree(R"(
        <directory fileName="Resources"><file fileName="r"/>
          <directory fileName="Sub"><file fileName="s"/></directory></directory>)");
    const FileNode& resources = child(root, "Resources");
    EXPECT_FALSE(resources.parentName.IsSet());
    EXPECT_EQ("Resources", text(child(resources, "r").parentName));
    EXPECT_EQ("Resources", text(child(resources, "Sub").parentName));
    EXPECT_EQ("Sub", text(child(child(resources, "Sub"), "s").parentName));

    SKUDefinition definition;
    FileNode untouched;
    definition.parseInstallFiles(untouched, nullptr, TqString());
    EXPECT_TRUE(untouched.children.empty());
}
