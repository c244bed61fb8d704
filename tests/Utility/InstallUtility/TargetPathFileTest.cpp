#include "FileDescriptor.h"
#include "RemovalFixture.h"

#include <fcntl.h>
#include "XMLReading.h"

namespace
{

class TargetPathFileTest : public RemovalFixture
{
protected:
    // As the tool reads it: through a descriptor opened without blocking.
    static bool readTarget(const std::string& file, TqString& path)
    {
        const FileDescriptor fd(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        return fd.IsOpen() && XMLReading::ReadTargetFile(fd.Get(), path);
    }

    // Reads a target-path file holding text; the path read, or "<none>" when reading failed.
    std::string readWith(const std::string& text)
    {
        writeFile(base + "/target_path.xml", text);
        TqString path("untouched");
        if (!readTarget(base + "/target_path.xml", path))
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
    EXPECT_FALSE(readTarget(base + "/absent.xml", path));
    EXPECT_FALSE(readTarget(base, path));
    EXPECT_EQ(std::string(path.ConstData()), "untouched");
}
