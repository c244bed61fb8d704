#include "RemovalFixture.h"
#include "XMLReading.h"

namespace
{

class TargetPathFileTest : public RemovalFixture
{
protected:
    // Reads a target-path file holding text; the path read, or "<none>" when reading failed.
    std::string readWith(const std::string& text)
    {
        writeFile(base + "/target_path.xml", text);
        TqString path("untouched");
        if (!XMLReading::ReadTargetFile(TqString((base + "/target_path.xml").c_str()), path))
            return std::string("<none>") + (path == TqString("untouched") ? "" : " but changed");
        return path.ConstData();
    }
};

} // namespace

TEST_F(TargetPathFileTest, ReadsThePathAttribute)
{
    EXPECT_EQ(readWith("<targetPath path=\"/opt/Tq Studio Effects\"/>"), "/opt/Tq Studio Effects");
    EXPECT_EQ(
        readWith("<?xml version=\"1.0\"?>\n<!-- where -->\n<targetPath path='/a/b' other='x'></targetPath>"),
        "/a/b");
    EXPECT_EQ(readWith("<targetPath path=\"/caf\xc3\xa9\"/>"), "/caf\xc3\xa9");
    EXPECT_EQ(readWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><targetPath path=\"/caf&#233;\"/>"),
              "/caf\xc3\xa9");
    // Relative paths are read as written; the removal refuses them.
    EXPECT_EQ(readWith("<targetPath path=\"relative\"/>"), "relative");
}

TEST_F(TargetPathFileTest, RejectsUnusableFiles)
{
    EXPECT_EQ(readWith("<targetPath/>"), "<none>");
    EXPECT_EQ(readWith("<targetPath path=\"\"/>"), "<none>");
    EXPECT_EQ(readWith("<target path=\"/opt\"/>"), "<none>");
    EXPECT_EQ(readWith("<targetPath path=\"/opt\">"), "<none>");
    EXPECT_EQ(readWith(""), "<none>");
    EXPECT_EQ(readWith("not xml at all"), "<none>");

    TqString path("untouched");
    EXPECT_FALSE(XMLReading::ReadTargetFile(TqString((base + "/absent.xml").c_str()), path));
    EXPECT_FALSE(XMLReading::ReadTargetFile(TqString(base.c_str()), path));
    EXPECT_EQ(std::string(path.ConstData()), "untouched");
}
