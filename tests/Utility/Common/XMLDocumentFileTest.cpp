#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "TemporaryFolder.h"
#include "XMLDocumentFile.h"
#include "XMLParser.h"

namespace
{

class XMLDocumentFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        folder = temporary.path();
    }

    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    TemporaryFolder temporary{"xmldocumentfile"};
    std::string folder;
};

} // namespace

TEST_F(XMLDocumentFileTest, LoadRootTakesOneRootElementAndNothingAfterIt)
{
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
        TiXmlDocument document;
        const TiXmlElement* root = XMLDocumentFile::LoadRoot(write("t.xml", c.text).c_str(), document, "targetPath");
        EXPECT_EQ(root != nullptr, c.read) << c.text;
        if (root != nullptr)
        {
            EXPECT_STREQ(root->Attribute("path"), "/a");
        }
    }
}
