#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "FileLibrary.h"
#include "TemporaryFolder.h"

namespace
{

using Command = std::vector<std::string>;

// Every command the library starts during a test, and whether it really runs.
std::vector<Command> commands;
bool passThrough = true;

Command ToCommand(const std::vector<TqString>& arguments)
{
    Command command;
    for (const TqString& argument : arguments)
        command.push_back(std::string(argument.ConstData(), argument.Size()));
    return command;
}

int RecordingRunner(const std::vector<TqString>& arguments)
{
    commands.push_back(ToCommand(arguments));
    return passThrough ? FileLibrary::RunCommand(arguments) : 0;
}

// Runs everything for real except "touch", which fails without running.
int FailingTouchRunner(const std::vector<TqString>& arguments)
{
    commands.push_back(ToCommand(arguments));
    if (commands.back()[0] == "touch")
        return 1;
    return FileLibrary::RunCommand(arguments);
}

TqString Tq(const std::string& text)
{
    return TqString(text.data(), text.size());
}

std::string Text(const TqString& value)
{
    return std::string(value.ConstData(), value.Size());
}

// Every entry below the directory, as paths relative to it, without following links.
void CollectEntries(const std::string& directory, const std::string& prefix, std::set<std::string>& entries)
{
    DIR* handle = opendir(directory.c_str());
    if (handle == nullptr)
        return;
    while (dirent* entry = readdir(handle))
    {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        entries.insert(prefix + name);
        struct stat status;
        const std::string full = directory + "/" + name;
        if (lstat(full.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
            CollectEntries(full, prefix + name + "/", entries);
    }
    closedir(handle);
}

bool IsLink(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::string LinkText(const std::string& path)
{
    char buffer[4096];
    const ssize_t size = readlink(path.c_str(), buffer, sizeof(buffer));
    return size < 0 ? std::string("<not a link>") : std::string(buffer, size);
}

} // namespace

// Each test works in a fresh temporary directory, which is also its current directory, so that
// anything a shell might wrongly run ("touch PWNED") would land there and be seen.
class FileLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        root = temporary.path();
        char* cwd = getcwd(nullptr, 0);
        ASSERT_NE(nullptr, cwd);
        savedDirectory = cwd;
        std::free(cwd);
        ASSERT_EQ(0, chdir(root.c_str()));
        commands.clear();
        passThrough = true;
        previousRunner = FileLibrary::SetCommandRunner(&RecordingRunner);
    }

    void TearDown() override
    {
        FileLibrary::SetCommandRunner(previousRunner);
        if (!savedDirectory.empty())
        {
            EXPECT_EQ(0, chdir(savedDirectory.c_str()));
        }
    }

    std::string P(const std::string& name) const { return root + "/" + name; }

    void Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(P(name), std::ios::binary) << content;
    }

    void MakeDirectory(const std::string& name) const { ASSERT_EQ(0, mkdir(P(name).c_str(), 0755)); }

    std::set<std::string> Entries() const
    {
        std::set<std::string> entries;
        CollectEntries(root, "", entries);
        return entries;
    }

    TemporaryFolder temporary{"filelibrary"};
    std::string root;
    std::string savedDirectory;
    FileLibrary::CommandRunner previousRunner = nullptr;
};

TEST_F(FileLibraryTest, ExistenceFollowsLinksAndKnowsOnlyFilesAndDirectories)
{
    Write("file", "x");
    MakeDirectory("dir");
    ASSERT_EQ(0, mkfifo(P("fifo").c_str(), 0600));
    ASSERT_EQ(0, symlink(P("dir").c_str(), P("dirlink").c_str()));
    ASSERT_EQ(0, symlink(P("file").c_str(), P("filelink").c_str()));
    ASSERT_EQ(0, symlink(P("nothing").c_str(), P("dangling").c_str()));

    EXPECT_FALSE(FileLibrary::IsFileExists(TqString(), false));
    EXPECT_FALSE(FileLibrary::IsFileExists(TqString(), true));
    EXPECT_TRUE(FileLibrary::IsFileExists(Tq(P("file")), false));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("file")), true));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("dir")), false));
    EXPECT_TRUE(FileLibrary::IsFileExists(Tq(P("dir")), true));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("fifo")), false));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("fifo")), true));
    EXPECT_TRUE(FileLibrary::IsFileExists(Tq(P("dirlink")), true));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("dirlink")), false));
    EXPECT_TRUE(FileLibrary::IsFileExists(Tq(P("filelink")), false));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("dangling")), false));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("dangling")), true));
    EXPECT_FALSE(FileLibrary::IsFileExists(Tq(P("missing")), false));
    EXPECT_TRUE(FileLibrary::IsFileExists(TqString("file"), false));

    EXPECT_TRUE(FileLibrary::IsDirectoryExists(Tq(P("dir"))));
    EXPECT_TRUE(FileLibrary::IsDirectoryExists(Tq(P("dirlink"))));
    EXPECT_FALSE(FileLibrary::IsDirectoryExists(Tq(P("file"))));
    EXPECT_FALSE(FileLibrary::IsDirectoryExists(TqString()));
    EXPECT_TRUE(commands.empty());
}

TEST_F(FileLibraryTest, ReadFileIsAllOrNothingAndKeepsNulBytes)
{
    const std::string withNuls("a\0b\0\0c", 6);
    Write("nuls", withNuls);
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.push_back(static_cast<char>(i));
    Write("bytes", allBytes);
    std::string large;
    for (int i = 0; i < 300000; ++i)
        large.push_back(static_cast<char>('a' + i % 26));
    Write("large", large);
    Write("empty", "");
    Write("crlf", "\xEF\xBB\xBFline\r\n");
    MakeDirectory("dir");
    ASSERT_EQ(0, mkfifo(P("fifo").c_str(), 0600));
    ASSERT_EQ(0, symlink(P("nuls").c_str(), P("link").c_str()));

    const TqString nuls = FileLibrary::readFile(Tq(P("nuls")));
    EXPECT_EQ(6u, nuls.Size());
    EXPECT_EQ(withNuls, Text(nuls));
    EXPECT_EQ(allBytes, Text(FileLibrary::readFile(Tq(P("bytes")))));
    EXPECT_EQ(large, Text(FileLibrary::readFile(Tq(P("large")))));
    EXPECT_EQ("\xEF\xBB\xBFline\r\n", Text(FileLibrary::readFile(Tq(P("crlf")))));
    EXPECT_EQ(withNuls, Text(FileLibrary::readFile(Tq(P("link")))));
    EXPECT_EQ("line\r\n", Text(FileLibrary::readFile(TqString("crlf"))).substr(3));

    EXPECT_TRUE(FileLibrary::readFile(Tq(P("empty"))).IsEmpty());
    EXPECT_TRUE(FileLibrary::readFile(Tq(P("missing"))).IsEmpty());
    EXPECT_TRUE(FileLibrary::readFile(TqString()).IsEmpty());
    EXPECT_TRUE(FileLibrary::readFile(Tq(P("dir"))).IsEmpty());
    // Returns at once instead of waiting for a writer.
    EXPECT_TRUE(FileLibrary::readFile(Tq(P("fifo"))).IsEmpty());

    Write("secret", "hidden");
    ASSERT_EQ(0, chmod(P("secret").c_str(), 0));
    if (geteuid() != 0) // root reads it regardless of its mode
    {
        EXPECT_TRUE(FileLibrary::readFile(Tq(P("secret"))).IsEmpty());
    }
}

TEST_F(FileLibraryTest, CreateDirectoryHonoursWithParents)
{
    MakeDirectory("existing");
    EXPECT_TRUE(FileLibrary::CreateDirectory(Tq(P("existing")), true));
    EXPECT_FALSE(FileLibrary::CreateDirectory(Tq(P("existing")), false));
    EXPECT_FALSE(FileLibrary::CreateDirectory(Tq(P("a/b/c")), false));
    EXPECT_FALSE(Exists(P("a")));
    EXPECT_TRUE(FileLibrary::CreateDirectory(Tq(P("a/b/c")), true));
    EXPECT_TRUE(FileLibrary::IsDirectoryExists(Tq(P("a/b/c"))));
    EXPECT_TRUE(FileLibrary::CreateDirectory(Tq(P("a/new")), false));
    EXPECT_TRUE(FileLibrary::IsDirectoryExists(Tq(P("a/new"))));

    const std::vector<Command> expected = {
        {"mkdir", "-p", "--", P("existing")}, {"mkdir", "--", P("existing")}, {"mkdir", "--", P("a/b/c")},
        {"mkdir", "-p", "--", P("a/b/c")},    {"mkdir", "--", P("a/new")},
    };
    EXPECT_EQ(expected, commands);
    EXPECT_EQ((std::set<std::string>{"existing", "a", "a/b", "a/b/c", "a/new"}), Entries());
}

TEST_F(FileLibraryTest, CopyFileNeedsAnExistingRegularSource)
{
    Write("source", "content");
    Write("old", "previous content that is longer");
    MakeDirectory("dir");
    ASSERT_EQ(0, symlink(P("source").c_str(), P("sourcelink").c_str()));

    EXPECT_FALSE(FileLibrary::CopyFile(Tq(P("dir")), Tq(P("copy"))));
    EXPECT_FALSE(FileLibrary::CopyFile(Tq(P("missing")), Tq(P("copy"))));
    EXPECT_FALSE(FileLibrary::CopyFile(TqString(), Tq(P("copy"))));
    EXPECT_TRUE(commands.empty());

    EXPECT_TRUE(FileLibrary::CopyFile(Tq(P("source")), Tq(P("copy"))));
    EXPECT_EQ("content", Text(FileLibrary::readFile(Tq(P("copy")))));
    EXPECT_TRUE(FileLibrary::CopyFile(Tq(P("source")), Tq(P("old"))));
    EXPECT_EQ("content", Text(FileLibrary::readFile(Tq(P("old")))));
    EXPECT_TRUE(FileLibrary::CopyFile(Tq(P("source")), Tq(P("dir"))));
    EXPECT_EQ("content", Text(FileLibrary::readFile(Tq(P("dir/source")))));
    EXPECT_TRUE(FileLibrary::CopyFile(Tq(P("sourcelink")), Tq(P("fromlink"))));
    EXPECT_FALSE(IsLink(P("fromlink")));
    EXPECT_EQ("content", Text(FileLibrary::readFile(Tq(P("fromlink")))));
    EXPECT_FALSE(FileLibrary::CopyFile(Tq(P("source")), Tq(P("nodir/copy"))));

    ASSERT_EQ(5u, commands.size());
    EXPECT_EQ((Command{"cp", "-f", "--", P("source"), P("copy")}), commands[0]);
}

TEST_F(FileLibraryTest, RemoveFileAndRemoveEmptyDirectory)
{
    Write("file", "x");
    Write("target", "y");
    ASSERT_EQ(0, symlink(P("target").c_str(), P("link").c_str()));
    MakeDirectory("empty");
    MakeDirectory("full");
    Write("full/entry", "z");

    EXPECT_FALSE(FileLibrary::RemoveFile(TqString()));
    EXPECT_TRUE(FileLibrary::RemoveEmptyDirectory(Tq(P("missing"))));
    EXPECT_TRUE(FileLibrary::RemoveEmptyDirectory(Tq(P("file"))));
    EXPECT_TRUE(commands.empty());

    EXPECT_TRUE(FileLibrary::RemoveFile(Tq(P("missing"))));
    EXPECT_EQ((std::vector<Command>{{"rm", "-f", "--", P("missing")}}), commands);
    EXPECT_TRUE(FileLibrary::RemoveFile(Tq(P("file"))));
    EXPECT_TRUE(FileLibrary::RemoveFile(Tq(P("link"))));
    EXPECT_FALSE(FileLibrary::RemoveEmptyDirectory(Tq(P("full"))));
    EXPECT_TRUE(FileLibrary::RemoveEmptyDirectory(Tq(P("empty"))));
    EXPECT_EQ((Command{"rmdir", "--", P("empty")}), commands.back());

    EXPECT_EQ((std::set<std::string>{"target", "full", "full/entry"}), Entries());
}

TEST_F(FileLibraryTest, RemoveFolderRemovesTreesAndCollapsedPaths)
{
    MakeDirectory("tree");
    MakeDirectory("tree/sub");
    Write("tree/sub/file", "x");
    MakeDirectory("a");
    MakeDirectory("a/b");
    MakeDirectory("a/c");
    Write("a/c/file", "y");
    MakeDirectory("kept");
    Write("kept/file", "z");
    ASSERT_EQ(0, symlink(P("kept").c_str(), P("keptlink").c_str()));
    Write("plain", "p");

    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("missing"))));
    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("plain"))));
    EXPECT_TRUE(FileLibrary::RemoveFolder(TqString()));
    EXPECT_TRUE(commands.empty());

    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("tree"))));
    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("a/b/../c"))));
    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("keptlink//"))));

    const std::vector<Command> expected = {
        {"rm", "-rf", "--", P("tree")}, {"rm", "-rf", "--", P("a/c")}, {"rm", "-rf", "--", P("keptlink")}};
    EXPECT_EQ(expected, commands);
    EXPECT_EQ((std::set<std::string>{"a", "a/b", "kept", "kept/file", "plain"}), Entries());
}

TEST_F(FileLibraryTest, RemoveFolderRefusesDenyListAndRootSpellingsWithoutRunningAnything)
{
    // Nothing runs for real here, whatever the library decides.
    passThrough = false;
    ASSERT_EQ(0, symlink("/", P("rootlink").c_str()));
    MakeDirectory("*");

    ASSERT_EQ(4u, FileLibrary::count);
    EXPECT_STREQ("/", FileLibrary::denyList[0]);
    EXPECT_STREQ(".", FileLibrary::denyList[1]);
    EXPECT_STREQ("/*", FileLibrary::denyList[2]);
    EXPECT_STREQ("*", FileLibrary::denyList[3]);

    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("/")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString(".")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("*")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("//")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("///")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("/./")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("/tmp/..")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("/tmp/../")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("/tmp/../.")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(Tq(P("rootlink"))));
    EXPECT_FALSE(FileLibrary::RemoveFolder(Tq(P("rootlink/"))));
    EXPECT_FALSE(FileLibrary::RemoveFolder(TqString("rootlink/.")));
    EXPECT_FALSE(FileLibrary::RemoveFolder(Tq(root + "/../../../../../../../../..")));
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ((std::set<std::string>{"rootlink", "*"}), Entries());

    // A path that only contains a deny entry is an ordinary path.
    EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(P("*"))));
    EXPECT_EQ((std::vector<Command>{{"rm", "-rf", "--", P("*")}}), commands);
}

TEST_F(FileLibraryTest, CopyFolderCopiesMergesAndTouches)
{
    MakeDirectory("source");
    Write("source/a", "alpha");
    ASSERT_EQ(0, chmod(P("source/a").c_str(), 0640));
    MakeDirectory("source/sub");
    Write("source/sub/b", "beta");
    ASSERT_EQ(0, symlink("a", P("source/alink").c_str()));
    const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimes(P("source").c_str(), old));
    Write("file", "f");

    EXPECT_FALSE(FileLibrary::CopyFolder(Tq(P("file")), Tq(P("copy")), false));
    EXPECT_FALSE(FileLibrary::CopyFolder(Tq(P("missing")), Tq(P("copy")), true));
    EXPECT_TRUE(commands.empty());

    const time_t before = std::time(nullptr);
    EXPECT_TRUE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("copy")), false));
    struct stat status;
    ASSERT_EQ(0, stat(P("copy").c_str(), &status));
    EXPECT_GE(status.st_mtime, before);
    EXPECT_EQ("alpha", Text(FileLibrary::readFile(Tq(P("copy/a")))));
    EXPECT_EQ("beta", Text(FileLibrary::readFile(Tq(P("copy/sub/b")))));
    EXPECT_EQ("a", LinkText(P("copy/alink")));
    ASSERT_EQ(0, stat(P("copy/a").c_str(), &status));
    EXPECT_EQ(0640u, status.st_mode & 07777);
    const std::vector<Command> expected = {{"cp", "-a", "-T", "--", P("source"), P("copy")},
                                           {"touch", "--", P("copy")}};
    EXPECT_EQ(expected, commands);

    // A real directory as destination is merged into, never removed.
    MakeDirectory("merge");
    Write("merge/own", "own");
    commands.clear();
    EXPECT_TRUE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("merge")), false));
    EXPECT_EQ("own", Text(FileLibrary::readFile(Tq(P("merge/own")))));
    EXPECT_EQ("alpha", Text(FileLibrary::readFile(Tq(P("merge/a")))));
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ("cp", commands[0][0]);

    // A failing touch leaves the copy's result alone.
    FileLibrary::SetCommandRunner(&FailingTouchRunner);
    commands.clear();
    EXPECT_TRUE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("second")), false));
    EXPECT_EQ("beta", Text(FileLibrary::readFile(Tq(P("second/sub/b")))));
    ASSERT_EQ(2u, commands.size());
    EXPECT_EQ("touch", commands[1][0]);

    // A copy that fails is reported and not touched.
    commands.clear();
    EXPECT_FALSE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("file")), false));
    EXPECT_EQ(1u, commands.size());
}

TEST_F(FileLibraryTest, CopyFolderReplacesASymbolicLinkDestination)
{
    MakeDirectory("source");
    Write("source/a", "alpha");
    MakeDirectory("elsewhere");
    Write("elsewhere/keep", "keep");
    ASSERT_EQ(0, symlink(P("elsewhere").c_str(), P("destination").c_str()));

    EXPECT_TRUE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("destination")), false));
    EXPECT_FALSE(IsLink(P("destination")));
    EXPECT_EQ("alpha", Text(FileLibrary::readFile(Tq(P("destination/a")))));
    EXPECT_EQ((std::set<std::string>{"source", "source/a", "elsewhere", "elsewhere/keep", "destination",
                                     "destination/a"}),
              Entries());
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ((Command{"rm", "-rf", "--", P("destination")}), commands[0]);

    // A link that stays (here the removal is stubbed) is never copied through.
    passThrough = false;
    commands.clear();
    ASSERT_EQ(0, symlink(P("elsewhere").c_str(), P("stays").c_str()));
    EXPECT_FALSE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("stays")), false));
    EXPECT_EQ((std::vector<Command>{{"rm", "-rf", "--", P("stays")}}), commands);

    // A link to the root is refused before anything runs.
    commands.clear();
    ASSERT_EQ(0, symlink("/", P("rootlink").c_str()));
    EXPECT_FALSE(FileLibrary::CopyFolder(Tq(P("source")), Tq(P("rootlink")), false));
    EXPECT_TRUE(commands.empty());
}

TEST_F(FileLibraryTest, CreateShortCutLinksExistingTargets)
{
    Write("file", "x");
    MakeDirectory("dir");
    MakeDirectory("holder");
    MakeDirectory("linked");
    ASSERT_EQ(0, symlink(P("linked").c_str(), P("holderlink").c_str()));
    Write("occupied", "o");

    EXPECT_FALSE(FileLibrary::CreateShortCut(TqString(), Tq(P("l"))));
    EXPECT_FALSE(FileLibrary::CreateShortCut(Tq(P("file")), TqString()));
    EXPECT_FALSE(FileLibrary::CreateShortCut(Tq(P("missing")), Tq(P("l"))));
    EXPECT_TRUE(commands.empty());

    EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(P("file")), Tq(P("filelink"))));
    EXPECT_EQ(P("file"), LinkText(P("filelink")));
    EXPECT_EQ((std::vector<Command>{{"ln", "-sf", "--", P("file"), P("filelink")}}), commands);
    EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(P("dir")), Tq(P("dirlink"))));
    EXPECT_TRUE(FileLibrary::IsDirectoryExists(Tq(P("dirlink"))));
    EXPECT_TRUE(FileLibrary::CreateShortCut(TqString("file"), Tq(P("relative"))));
    EXPECT_EQ("file", LinkText(P("relative")));
    EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(P("file")), Tq(P("occupied"))));
    EXPECT_EQ(P("file"), LinkText(P("occupied")));

    // Inside an existing directory, or the directory a link leads to, under the target's name.
    EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(P("file")), Tq(P("holder"))));
    EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(P("file")), Tq(P("holderlink"))));
    EXPECT_EQ(P("file"), LinkText(P("holder/file")));
    EXPECT_EQ(P("file"), LinkText(P("linked/file")));
    EXPECT_EQ(P("linked"), LinkText(P("holderlink")));
    EXPECT_EQ((std::set<std::string>{"file", "dir", "holder", "holder/file", "linked", "linked/file",
                                     "holderlink", "occupied", "filelink", "dirlink", "relative"}),
              Entries());
}

TEST_F(FileLibraryTest, NamesThatAShellWouldInterpretStayLiteral)
{
    const std::vector<std::string> names = {
        "$(touch PWNED)", "`touch PWNED`", "a\"b", "a\\b", "a\nb", "-rf", "--help", "*", "a b",
        "'; touch PWNED'"};
    Write("seed", "seed content");
    for (const std::string& name : names)
    {
        SCOPED_TRACE(name);
        commands.clear();
        EXPECT_TRUE(FileLibrary::CopyFile(TqString("seed"), Tq(name)));
        EXPECT_EQ("seed content", Text(FileLibrary::readFile(Tq(name))));
        EXPECT_TRUE(FileLibrary::CreateShortCut(Tq(name), Tq(name + "L")));
        EXPECT_EQ(name, LinkText(P(name + "L")));
        EXPECT_EQ((std::set<std::string>{"seed", name, name + "L"}), Entries());
        EXPECT_TRUE(FileLibrary::RemoveFile(Tq(name + "L")));
        EXPECT_TRUE(FileLibrary::RemoveFile(Tq(name)));
        EXPECT_EQ((std::set<std::string>{"seed"}), Entries());

        EXPECT_TRUE(FileLibrary::CreateDirectory(Tq(name), false));
        EXPECT_TRUE(FileLibrary::CreateDirectory(Tq(name + "/" + name), true));
        EXPECT_TRUE(FileLibrary::CopyFile(TqString("seed"), Tq(name + "/inner")));
        EXPECT_TRUE(FileLibrary::CopyFolder(Tq(name), Tq(name + "C"), false));
        EXPECT_EQ((std::set<std::string>{"seed", name, name + "/" + name, name + "/inner", name + "C",
                                         name + "C/" + name, name + "C/inner"}),
                  Entries());
        EXPECT_TRUE(FileLibrary::RemoveFolder(Tq(name + "C")));
        EXPECT_TRUE(FileLibrary::RemoveEmptyDirectory(Tq(name + "/" + name)));
        EXPECT_TRUE(FileLibrary::RemoveFile(Tq(name + "/inner")));
        EXPECT_TRUE(FileLibrary::RemoveEmptyDirectory(Tq(name)));
        EXPECT_EQ((std::set<std::string>{"seed"}), Entries());
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ((Command{"cp", "-f", "--", "seed", name}), commands[0]);
    }
}

TEST_F(FileLibraryTest, PathsHoldingNulBytesRunNothing)
{
    Write("x", "content");
    MakeDirectory("dir");
    const TqString file("x\0y", 3);
    const TqString directory("dir\0z", 5);

    EXPECT_FALSE(FileLibrary::IsFileExists(file, false));
    EXPECT_TRUE(FileLibrary::readFile(file).IsEmpty());
    EXPECT_FALSE(FileLibrary::RemoveFile(file));
    EXPECT_FALSE(FileLibrary::CreateDirectory(TqString("new\0dir", 7), true));
    EXPECT_FALSE(FileLibrary::CopyFile(Tq(P("x")), TqString("copy\0x", 6)));
    EXPECT_FALSE(FileLibrary::CreateShortCut(Tq(P("x")), TqString("link\0x", 6)));
    EXPECT_TRUE(FileLibrary::RemoveFolder(directory));
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ((std::set<std::string>{"x", "dir"}), Entries());
}

TEST_F(FileLibraryTest, RunCommandReportsTheExitStatus)
{
    EXPECT_EQ(0, FileLibrary::RunCommand({"true"}));
    EXPECT_EQ(1, FileLibrary::RunCommand({"false"}));
    EXPECT_EQ(7, FileLibrary::RunCommand({"sh", "-c", "exit 7"}));
    EXPECT_EQ(-1, FileLibrary::RunCommand({"sh", "-c", "kill -9 $$"}));
    EXPECT_EQ(-1, FileLibrary::RunCommand({"no-such-command-for-this-test"}));
    EXPECT_EQ(-1, FileLibrary::RunCommand({}));
    EXPECT_EQ(0, FileLibrary::RunCommand({"test", "$(x) *", "=", "$(x) *"}));
    // The hook sees nothing started by a direct call.
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(&RecordingRunner, FileLibrary::SetCommandRunner(nullptr));
    EXPECT_EQ(&FileLibrary::RunCommand, FileLibrary::SetCommandRunner(&RecordingRunner));
}
