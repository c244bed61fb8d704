#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>

#include "FileDescriptor.h"
#include "SKUDefinition.h"
#include "TemporaryFolder.h"
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
