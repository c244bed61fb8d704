#include <string>

#include <gtest/gtest.h>

#include "PathLibrary.h"

namespace
{

std::string Text(const TqString& value)
{
    return std::string(value.ConstData(), value.Size());
}

std::string FileName(const char* path)
{
    return Text(PathLibrary::GetFileNameFromPath(TqString(path)));
}
std::string Join(const char* directory, const char* file)
{
    return Text(PathLibrary::GetDirectoryWithFile(TqString(directory), TqString(file)));
}
std::string DirectoryPart(const char* path)
{
    return Text(PathLibrary::GetDirectoryWithoutFile(TqString(path)));
}
std::string WithoutLastSlash(const char* path)
{
    return Text(PathLibrary::GetDirectoryPathWithoutLastSlash(TqString(path)));
}
std::string Parent(const char* path)
{
    return Text(PathLibrary::GetParentDir(TqString(path)));
}
std::string Collapse(const char* path)
{
    return Text(PathLibrary::CollapsePath(TqString(path)));
}
std::string NoExtension(const char* path)
{
    return Text(PathLibrary::RemoveExtension(TqString(path)));
}
std::string Extension(const char* path)
{
    return Text(PathLibrary::GetExtension(TqString(path)));
}

} // namespace

TEST(PathLibraryTest, FileNameIsWhatFollowsTheLastSlash)
{
    EXPECT_EQ("c.txt", FileName("/a/b/c.txt"));
    EXPECT_EQ("c.txt", FileName("c.txt"));
    EXPECT_EQ("/a/b/", FileName("/a/b/"));
    EXPECT_EQ("/", FileName("/"));
    EXPECT_EQ("", FileName(""));
    EXPECT_EQ("d", FileName("a\\b/d"));
}

TEST(PathLibraryTest, JoiningAddsOneSlashOnlyWhenMissing)
{
    EXPECT_EQ("/a/b/c", Join("/a/b/", "c"));
    EXPECT_EQ("/a/b/c", Join("/a/b", "c"));
    EXPECT_EQ("/c", Join("", "c"));
    EXPECT_EQ("/a//c", Join("/a", "/c"));
    EXPECT_EQ("/a/", Join("/a", ""));
    EXPECT_EQ("dir/c", Join("dir", "c"));
}

TEST(PathLibraryTest, DirectoryPartKeepsTheLastSlash)
{
    EXPECT_EQ("/a/b/", DirectoryPart("/a/b/c.txt"));
    EXPECT_EQ("/a/b/", DirectoryPart("/a/b/"));
    EXPECT_EQ("/", DirectoryPart("/c"));
    EXPECT_EQ("", DirectoryPart("c.txt"));
    EXPECT_EQ("", DirectoryPart(""));
}

TEST(PathLibraryTest, ExactlyOneTrailingSlashIsRemoved)
{
    EXPECT_EQ("/a/b", WithoutLastSlash("/a/b/"));
    EXPECT_EQ("/a/b/", WithoutLastSlash("/a/b//"));
    EXPECT_EQ("", WithoutLastSlash("/"));
    EXPECT_EQ("/a/b", WithoutLastSlash("/a/b"));
    EXPECT_EQ("", WithoutLastSlash(""));
}

TEST(PathLibraryTest, ParentDirectoryHasNoTrailingSlash)
{
    EXPECT_EQ("/a/b", Parent("/a/b/c"));
    EXPECT_EQ("/a/b", Parent("/a/b/c/"));
    EXPECT_EQ("/a/b", Parent("/a/b/c.txt"));
    EXPECT_EQ("", Parent("/a"));
    EXPECT_EQ("", Parent("/a/"));
    EXPECT_EQ("", Parent("/"));
    EXPECT_EQ("a", Parent("a/b"));
    EXPECT_EQ("", Parent("a"));
    EXPECT_EQ("/a/b", Parent("/a/b//"));
}

TEST(PathLibraryTest, CollapseRemovesParentStepsFromTheLeftUntilOneCannotBe)
{
    EXPECT_EQ("/a/c", Collapse("/a/b/../c"));
    EXPECT_EQ("/c", Collapse("/a/b/../../c"));
    EXPECT_EQ("/a/", Collapse("/a/b/../"));
    EXPECT_EQ("/", Collapse("/tmp/../"));
    EXPECT_EQ("/../x", Collapse("/../x"));
    EXPECT_EQ("/../b", Collapse("/a/../../b"));
    EXPECT_EQ("a/../b", Collapse("a/../b"));
    EXPECT_EQ("a/c", Collapse("a/b/../c"));
    EXPECT_EQ("/../a/b/../c", Collapse("/../a/b/../c"));
    EXPECT_EQ("x/../a/b/../c", Collapse("x/../a/b/../c"));
    EXPECT_EQ("/../y/../z", Collapse("/x/../../y/../z"));
    EXPECT_EQ("/a/b/..", Collapse("/a/b/.."));
    EXPECT_EQ("/a/b", Collapse("/a/./../b"));
    EXPECT_EQ("/a/b", Collapse("/a//../b"));
    EXPECT_EQ("/x", Collapse("//../x"));
    EXPECT_EQ("", Collapse(""));
    EXPECT_EQ("/a/b/c", Collapse("/a/b/c"));
    EXPECT_EQ("/d", Collapse("/a/b/c/../../../d"));
}

TEST(PathLibraryTest, ExtensionsCutAtTheFirstAndLastDot)
{
    EXPECT_EQ("file", NoExtension("file.txt"));
    EXPECT_EQ("archive", NoExtension("archive.tar.gz"));
    EXPECT_EQ("/a", NoExtension("/a.b/c.txt"));
    EXPECT_EQ("", NoExtension(".profile"));
    EXPECT_EQ("", NoExtension("./dir/file.txt"));
    EXPECT_EQ("file", NoExtension("file"));

    EXPECT_EQ("txt", Extension("file.txt"));
    EXPECT_EQ("gz", Extension("archive.tar.gz"));
    EXPECT_EQ("", Extension("file."));
    EXPECT_EQ("", Extension("file"));
    EXPECT_EQ("b/c", Extension("/a.b/c"));
    EXPECT_EQ("profile", Extension(".profile"));
}

TEST(PathLibraryTest, MultiByteTextPassesThroughAndArgumentsStayUnchanged)
{
    const TqString path("/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.t\xC3\xA9xt");
    EXPECT_EQ("caf\xC3\xA9.t\xC3\xA9xt", Text(PathLibrary::GetFileNameFromPath(path)));
    EXPECT_EQ("/d\xC3\xA9j\xC3\xA0", Text(PathLibrary::GetParentDir(path)));
    EXPECT_EQ("t\xC3\xA9xt", Text(PathLibrary::GetExtension(path)));
    EXPECT_EQ("/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.t\xC3\xA9xt", Text(path));

    const TqString steps("/a/b/../c");
    const TqString collapsed = PathLibrary::CollapsePath(steps);
    EXPECT_EQ("/a/b/../c", Text(steps));
    EXPECT_EQ("/a/c", Text(collapsed));
}
