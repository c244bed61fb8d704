#include <gtest/gtest.h>

#include <string>

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
        {"<?xml version='1.0'?>\n<!-- made by the installer -->\n<targetPath path='/a'/>\n<!-- end -->\n", true},
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
        EXPECT_EQ(XMLReading::ReadTargetFile(TqString(file.c_str()), path), c.read) << c.text;
        EXPECT_STREQ(path.ConstData(), c.read ? "/a" : "untouched") << c.text;
    }
}
