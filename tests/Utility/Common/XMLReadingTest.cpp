#include <gtest/gtest.h>

#include <fcntl.h>

#include <random>
#include <string>
#include <vector>

#include "FileDescriptor.h"
#include "InstallFilesCheck.h"
#include "SKUDefinition.h"
#include "TemporaryFolder.h"
#include "XMLParser.h"
#include "XMLReading.h"

TEST(XMLReadingTest, ReadTargetFileTakesOneRootElementAndNothingAfterIt)
{
    const TemporaryFolder folder("xmlreading");
    ASSERT_FALSE(folder.path().empty()) << folder.why();
    const struct
    {
        const char* text;
        bool read;
    } cases[] = {
        {"<targetPath path='/a'/>", true},
        {"<?xml version='1.0'?>\n<!-- made by the installer -->\n<targetPath path='/a'/>\n<!-- end -->\n",
         true},
        {"  <targetPath path='/a'></targetPath>  \r\n", true},
        {"<targetPath path='/a'/><targetPath path='/'/>", false},
        {"<targetPath path='/a'/><other/>", false},
        {"<targetPath path='/a'/>stray text", false},
        {"<targetPath path='/a'/>x<targetPath path='/'/>", false},
        {"<other/><targetPath path='/a'/>", false},
        {"<!-- nothing but a comment -->", false},
    };
    for (const auto& c : cases)
    {
        const std::string file = TemporaryFolder::WriteFile(folder.Path("t.xml"), c.text);
        TqString path("untouched");
        const FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(XMLReading::ReadTargetFile(fd.Get(), path), c.read) << c.text;
        EXPECT_STREQ(path.ConstData(), c.read ? "/a" : "untouched") << c.text;
    }
}

TEST(XMLReadingTest, AnEntryListedTwiceKeepsItsFirstListingsFlags)
{
    // Each case: the install list, then the entry "S" (in "D" when the list has one) as read.
    const struct
    {
        const char* list;
        bool dontDelete;
        bool ignoreInstallErrors;
    } cases[] = {
        {"<file fileName='S' dontdelete='1'/><file fileName='S'/>", true, false},
        {"<file fileName='S' dontdelete='1'/><file fileName='S' dontdelete='0'/>", true, false},
        // Keeping wins whichever listing asks for it.
        {"<file fileName='S'/><file fileName='S' dontdelete='1'/>", true, false},
        {"<file fileName='S' ignoreinstallerrors='1'/><file fileName='S' ignoreinstallerrors='0'/>", false,
         true},
        {"<file fileName='S'/><file fileName='S' ignoreinstallerrors='1'/>", false, false},
        // A directory kept by its first listing keeps what it holds that leaves the flag to it.
        {"<directory fileName='D' dontdelete='1'/><directory fileName='D'><file fileName='S'/></directory>",
         true, false},
        {"<directory fileName='D'><file fileName='S' dontdelete='1'/></directory>"
         "<directory fileName='D'><file fileName='S'/></directory>",
         true, false},
        {"<file fileName='S'/>", false, false},
    };
    for (const auto& c : cases)
    {
        const std::string text =
            std::string("<product><installFiles>") + c.list + "</installFiles></product>";
        SKUDefinition definition;
        ASSERT_TRUE(XMLReading::ReadDefinitionText(text.data(), text.size(), definition)) << c.list;
        const FileNode& root = definition.installRoot;
        const auto directory = root.children.find(TqString("D"));
        const FileNode& holder = directory != root.children.end() ? directory->second : root;
        const auto entry = holder.children.find(TqString("S"));
        ASSERT_NE(entry, holder.children.end()) << c.list;
        EXPECT_EQ(entry->second.dontDelete, c.dontDelete) << c.list;
        EXPECT_EQ(entry->second.ignoreInstallErrors, c.ignoreInstallErrors) << c.list;
    }
}

// Every field of the install-file tree, in one text.
std::string treeText(const FileNode& node)
{
    std::string out = std::string("{") + node.name.ConstData() + "/" + node.parentName.ConstData() + "/" +
                      node.configuration.ConstData() + "/" + node.shortCut.name.ConstData() + "/" +
                      node.shortCut.dir.ConstData() + "/" + std::to_string(node.isX86) +
                      (node.isDirectory ? "d" : "f") + (node.dontDelete ? "k" : "") +
                      (node.ignoreInstallErrors ? "i" : "") + (node.allowDowngrade ? "a" : "");
    for (const auto& entry : node.children)
        out += treeText(entry.second);
    return out + "}";
}

std::string findingsText(const InstallFilesFindings& findings)
{
    std::string out = std::string("refusal: ") + findings.refusal.ConstData();
    for (const TqString& line : findings.ignored)
        out += std::string("\n") + line.ConstData();
    return out;
}

TEST(XMLReadingTest, TheToolsReadingOfAFileGivesWhatTheWholeDocumentGives)
{
    // The tool's reading lets the document go while it reads; it must give the model and findings
    // that reading and checking the whole document give: unnamed entries, names listed twice, bad
    // flags, unknown names, comments bearing a known name, in any order.
    const std::vector<std::string> pieces = {
        "<directory fileName='D'>",
        "<directory fileName='E' dontdelete='1'>",
        "</directory>",
        "<file fileName='f' ignoreinstallerrors='1'/>",
        "<file fileName='g' arch='x86' configuration='c'><shortCut name='s' dir='/d'/></file>",
        "<file fileName='f' dontdelete='0'/>",
        "<file/>",
        "<directory fileName=''/>",
        "<file fileName='h' colour='red'/>",
        "<file fileName='h' dontdelete='yes'/>",
        "<File fileName='x'/>",
        "<extra/>",
        "<!--installFiles-->",
        "<directory fileName='D' allowdowngrade='1'><file fileName='f'/></directory>",
    };
    const TemporaryFolder folder("xmlreading");
    ASSERT_FALSE(folder.path().empty()) << folder.why();
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round)
    {
        std::string list;
        const int count = static_cast<int>(random() % 10);
        for (int i = 0; i < count; ++i)
            list += pieces[random() % pieces.size()];
        const std::string text = "<product><sku name='N'/><installFiles>" + list +
                                 "</installFiles><install><link url='u'/></install></product>";
        const std::string file = TemporaryFolder::WriteFile(folder.Path("d.xml"), text);
        const FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
        SKUDefinition ours;
        InstallFilesFindings ourFindings;
        std::string digest;
        const bool read = XMLReading::ReadDefinitionFile(fd.Get(), ours, ourFindings, &digest);
        TiXmlDocument document;
        document.Parse(text.c_str());
        ASSERT_EQ(read, !document.Error()) << text;
        if (!read)
            continue; // unbalanced pieces
        EXPECT_EQ(digest.size(), 64u);
        const InstallFilesFindings theirFindings = CheckInstallFiles(document);
        ASSERT_EQ(findingsText(ourFindings), findingsText(theirFindings)) << text;
        if (theirFindings.refusal.IsSet())
            continue; // the model of a refused definition is not used
        SKUDefinition theirs;
        ASSERT_TRUE(XMLReading::ReadDefinitionText(text.data(), text.size(), theirs)) << text;
        ASSERT_EQ(treeText(ours.installRoot), treeText(theirs.installRoot)) << text;
        EXPECT_STREQ(ours.skuInfo.name.ConstData(), "N");
        EXPECT_STREQ(ours.installLinkUrl.ConstData(), "u");
    }
}
