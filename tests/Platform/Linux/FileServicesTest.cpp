#include <fcntl.h>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "FileDescriptor.h"
#include "FileServices.h"
#include "PlatformTestFolder.h"

using FileServicesTest = PlatformTestFolder;

TEST_F(FileServicesTest, TemporaryDirectoryFollowsTmpdirWhenItIsASafeFolder)
{
    auto chosen = [](const char* tmpdir, uid_t user)
    {
        const Result<TqString> chosenFolder = ChooseTemporaryDirectory(tmpdir, user);
        return chosenFolder.IsDone() ? std::string(chosenFolder.Value().ConstData())
                                     : chosenFolder.GetStatus().Text().ConstData();
    };
    auto chosenForMe = [&](const std::string& tmpdir) { return chosen(tmpdir.c_str(), geteuid()); };
    EXPECT_EQ(chosenForMe(folder), folder);
    EXPECT_EQ(chosen(nullptr, geteuid()), "/tmp");
    EXPECT_EQ(chosenForMe(""), "/tmp");
    EXPECT_EQ(chosenForMe(Path("missing")), "/tmp");
    EXPECT_EQ(chosenForMe(WriteFile("plain", "x")), "/tmp");
    // Anyone may swap a private folder in a folder that everyone may write without the sticky bit.
    std::filesystem::create_directories(Path("open/run"));
    chmod(Path("open").c_str(), 0777);
    EXPECT_EQ(chosenForMe(Path("open")), "/tmp");
    EXPECT_EQ(chosenForMe(Path("open/run")), "/tmp");
    chmod(Path("open").c_str(), 01777);
    EXPECT_EQ(chosenForMe(Path("open/run")), Path("open/run"));
    ASSERT_EQ(symlink("open/run", Path("link").c_str()), 0);
    EXPECT_EQ(chosenForMe(Path("link")), Path("open/run"));
    if (geteuid() == 0)
    {
        // A folder another user owns is theirs to swap.
        ASSERT_EQ(chown(Path("open/run").c_str(), 54321, 54321), 0);
        EXPECT_EQ(chosenForMe(Path("open/run")), "/tmp");
        EXPECT_EQ(chosen(Path("open/run").c_str(), 54321), Path("open/run"));
    }
}

TEST(FileServices, UniqueStringsAreRandomHexAndPid)
{
    std::set<std::string> seen;
    std::string suffix = "-" + std::to_string(getpid());
    for (int round = 0; round < 100; ++round)
    {
        std::string unique = UniqueRunString().ConstData();
        ASSERT_EQ(unique.size(), 32 + suffix.size());
        EXPECT_EQ(unique.substr(32), suffix);
        EXPECT_EQ(unique.find_first_not_of("0123456789abcdef"), 32u);
        seen.insert(unique);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST_F(FileServicesTest, PrivateDirectoryIsNewAndOwnerOnly)
{
    mode_t previous = umask(0);
    EXPECT_TRUE(CreatePrivateDirectory(Path("fresh").c_str()).IsDone());
    umask(0277);
    EXPECT_TRUE(CreatePrivateDirectory(Path("restricted").c_str()).IsDone());
    umask(previous);
    EXPECT_EQ(ModeOf(Path("fresh")) & 07777, 0700u);
    EXPECT_EQ(ModeOf(Path("restricted")) & 07777, 0700u);
    EXPECT_FALSE(CreatePrivateDirectory(Path("fresh").c_str()).IsDone());
    EXPECT_FALSE(CreatePrivateDirectory(WriteFile("file", "x").c_str()).IsDone());
    EXPECT_FALSE(CreatePrivateDirectory(Path("no/such/parent").c_str()).IsDone());
    EXPECT_FALSE(CreatePrivateDirectory(TqString()).IsDone());
}

TEST_F(FileServicesTest, CopyKeepsLinksModesAndContent)
{
    std::string bundle = "Demo.app/Contents/MacOS/";
    WriteFile(bundle + "Uninstall", std::string(200000, 'u'), 0755);
    WriteFile(bundle + "sku.xml", "<product/>", 0640);
    WriteFile(bundle + "shared", "", 0666);
    WriteFile("Demo.app/Contents/Resources/empty", "", 0600);
    std::filesystem::create_directories(Path("Demo.app/Contents/Empty"));
    chmod(Path("Demo.app/Contents/Resources").c_str(), 0555);
    ASSERT_EQ(symlink("MacOS/Uninstall", Path("Demo.app/Contents/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", Path("Demo.app/dangling").c_str()), 0);

    ASSERT_TRUE(CopyTree(Path("Demo.app").c_str(), Path("Copy.app").c_str()).IsDone());
    EXPECT_EQ(ReadFile(Path("Copy.app/Contents/MacOS/Uninstall")), std::string(200000, 'u'));
    EXPECT_EQ(ReadFile(Path("Copy.app/Contents/MacOS/sku.xml")), "<product/>");
    EXPECT_EQ(ModeOf(Path("Copy.app/Contents/MacOS/Uninstall")) & 07777, 0755u);
    EXPECT_EQ(ModeOf(Path("Copy.app/Contents/MacOS/sku.xml")) & 07777, 0640u);
    EXPECT_EQ(ModeOf(Path("Copy.app/Contents/Resources")) & 07777, 0555u);
    // No one but the owner may write into the copy.
    EXPECT_EQ(ModeOf(Path("Copy.app/Contents/MacOS/shared")) & 07777, 0644u);
    EXPECT_TRUE(S_ISREG(ModeOf(Path("Copy.app/Contents/Resources/empty"))));
    EXPECT_TRUE(S_ISDIR(ModeOf(Path("Copy.app/Contents/Empty"))));
    EXPECT_TRUE(S_ISLNK(ModeOf(Path("Copy.app/Contents/link"))));
    EXPECT_EQ(std::filesystem::read_symlink(Path("Copy.app/Contents/link")).string(), "MacOS/Uninstall");
    EXPECT_EQ(std::filesystem::read_symlink(Path("Copy.app/dangling")).string(), "/nonexistent/target");
    chmod(Path("Demo.app/Contents/Resources").c_str(), 0755);
    chmod(Path("Copy.app/Contents/Resources").c_str(), 0755);
}

TEST_F(FileServicesTest, CopyRefusesAnExistingDestinationAndOddSources)
{
    WriteFile("Demo.app/a", "new");
    WriteFile("Existing.app/a", "old");
    EXPECT_FALSE(CopyTree(Path("Demo.app").c_str(), Path("Existing.app").c_str()).IsDone());
    EXPECT_EQ(ReadFile(Path("Existing.app/a")), "old");
    WriteFile("target", "kept");
    EXPECT_FALSE(CopyTree(Path("Demo.app/a").c_str(), Path("target").c_str()).IsDone());
    EXPECT_EQ(ReadFile(Path("target")), "kept");
    EXPECT_FALSE(CopyTree(Path("missing").c_str(), Path("x").c_str()).IsDone());
    // A FIFO is no part of what runs: it is left out, and the copy goes on.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_TRUE(CopyTree(Path("fifo").c_str(), Path("fifo-copy").c_str()).IsDone());
    EXPECT_FALSE(std::filesystem::exists(Path("fifo-copy")));
    EXPECT_FALSE(CopyTree(Path("Demo.app").c_str(), Path("no/parent/Copy.app").c_str()).IsDone());
    // A temporary folder inside the bundle must not make the copy chase itself.
    std::filesystem::create_directories(Path("Demo.app/tmp/run"));
    EXPECT_FALSE(CopyTree(Path("Demo.app").c_str(), Path("Demo.app/tmp/run/Uninstall.app").c_str()).IsDone());
    EXPECT_FALSE(CopyTree(Path("Demo.app").c_str(), Path("Demo.app/Copy.app").c_str()).IsDone());
    EXPECT_FALSE(std::filesystem::exists(Path("Demo.app/tmp/run/Uninstall.app")));
    EXPECT_TRUE(CopyTree(Path("Demo.app").c_str(), Path("Demo.app-copy").c_str()).IsDone());
}

TEST_F(FileServicesTest, RemoveTreeTakesReadOnlyFoldersAndNeverFollowsLinks)
{
    std::string outside = WriteFile("outside/canary", "keep");
    WriteFile("run/Copy.app/Contents/MacOS/Uninstall", "u", 0555);
    WriteFile("run/Copy.app/Contents/Resources/a", "a", 0444);
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("run/Copy.app/Contents/out").c_str()), 0);
    chmod(Path("run/Copy.app/Contents/Resources").c_str(), 0500);
    chmod(Path("run/Copy.app/Contents").c_str(), 0555);
    EXPECT_TRUE(RemoveTree(Path("run").c_str()).IsDone());
    EXPECT_FALSE(std::filesystem::exists(Path("run")));
    EXPECT_EQ(ReadFile(outside), "keep");
    EXPECT_TRUE(RemoveTree(Path("missing").c_str()).IsDone());
    EXPECT_TRUE(RemoveTree(outside.c_str()).IsDone());
    EXPECT_FALSE(std::filesystem::exists(outside));
    EXPECT_FALSE(RemoveTree(TqString()).IsDone());
}

// The walk copies a link to a folder as the link, never what it points at, and the running
// program's file from the descriptor it is given, whatever the bundle holds at that name.
TEST_F(FileServicesTest, CopyTakesLinksAsLinksAndTheProgramFromItsDescriptor)
{
    WriteFile("outside/secret", "not for the copy");
    const std::string program = WriteFile("running", std::string(100000, 'r'), 0750);
    const FileDescriptor programFd(open(program.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(programFd.IsOpen());
    CopyOptions options;
    options.replacedFile = "Contents/MacOS/Uninstall";
    options.replacementFd = programFd.Get();
    // The program at its name in the bundle swapped for another, removed, or a link in its place.
    const struct
    {
        const char* name;
        const char* program;
        const char* link;
    } cases[] = {{"swapped", "#!/bin/sh\n", nullptr},
                 {"removed", nullptr, nullptr},
                 {"linked", nullptr, "outside/secret"}};
    for (const auto& row : cases)
    {
        SCOPED_TRACE(row.name);
        const std::string bundle = std::string(row.name) + ".app";
        WriteFile(bundle + "/Contents/MacOS/sku.xml", "<product/>");
        if (row.program != nullptr)
            WriteFile(bundle + "/Contents/MacOS/Uninstall", row.program, 0755);
        ASSERT_TRUE(row.link == nullptr ||
                    symlink(Path(row.link).c_str(), Path(bundle + "/Contents/MacOS/Uninstall").c_str()) == 0);
        ASSERT_EQ(symlink(Path("outside").c_str(), Path(bundle + "/Contents/Resources").c_str()), 0);
        const std::string copy = bundle + "-copy";
        ASSERT_TRUE(CopyTree(Path(bundle).c_str(), Path(copy).c_str(), options).IsDone());
        EXPECT_EQ(ReadFile(Path(copy + "/Contents/MacOS/Uninstall")), std::string(100000, 'r'));
        EXPECT_EQ(ModeOf(Path(copy + "/Contents/MacOS/Uninstall")), S_IFREG | 0750u);
        EXPECT_EQ(ReadFile(Path(copy + "/Contents/MacOS/sku.xml")), "<product/>");
        EXPECT_TRUE(S_ISLNK(ModeOf(Path(copy + "/Contents/Resources"))));
    }
    // A bundle without the program's folder cannot become a copy that runs it.
    WriteFile("Bare.app/Contents/Info.plist", "<plist/>");
    EXPECT_EQ(CopyTree(Path("Bare.app").c_str(), Path("Bare-copy.app").c_str(), options).Errno(), ENOENT);
}

TEST_F(FileServicesTest, CopyStopsWhenAsked)
{
    for (int file = 0; file < 50; ++file)
        WriteFile("Big.app/Contents/Resources/f" + std::to_string(file), "x");
    int asked = 0;
    CopyOptions options;
    options.stopAsked = [&] { return ++asked > 10; };
    EXPECT_EQ(CopyTree(Path("Big.app").c_str(), Path("Copy.app").c_str(), options).Errno(), EINTR);
    EXPECT_EQ(asked, 11);
}
