#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "PlatformTestFolder.h"
#include "RunFolders.h"

namespace
{

const char kHex[] = "0123456789abcdef0123456789abcdef";

// A pid no process has: a child that has exited and been reaped.
pid_t PidOfAnEndedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

} // namespace

using RunFoldersTest = PlatformTestFolder;

// A run folder goes only when it is provably one of the user's and its process is gone; what it
// holds goes without any link in it being followed.
TEST_F(RunFoldersTest, OnlyFoldersOfEndedRunsGo)
{
    unsigned long long ownStart = 0;
    ASSERT_TRUE(ProcessStartTime(getpid(), ownStart));
    const std::string ended = std::to_string(PidOfAnEndedProcess());
    const std::string own = std::to_string(getpid());
    const std::string canary = WriteFile("outside/canary", "keep");
    struct Case
    {
        std::string name;
        const char* record; // nullptr for none, "this" for this process's own record
        mode_t mode;
        bool goes;
    };
    const std::string otherStartText = std::to_string(ownStart + 1) + "\n";
    const Case cases[] = {
        {std::string(kHex) + "-" + ended, "1\n", 0700, true},
        {std::string(kHex, 31) + "0-" + ended, nullptr, 0700, true},
        // The pid taken again by a process that started later than the run.
        {std::string(kHex, 31) + "1-" + own, otherStartText.c_str(), 0700, true},
        {std::string(kHex, 31) + "2-" + own, "this", 0700, false},
        {std::string(kHex, 31) + "3-" + own, nullptr, 0700, false},
        {std::string(kHex, 31) + "4-" + ended, nullptr, 0755, false},
        {std::string(kHex, 31) + "A-" + ended, nullptr, 0700, false},
        {std::string(kHex) + "-" + ended + "x", nullptr, 0700, false},
        {"tmp-" + ended, nullptr, 0700, false},
    };
    for (const Case& row : cases)
    {
        WriteFile(row.name + "/Uninstall.app/Contents/MacOS/Uninstall", "u", 0555);
        ASSERT_EQ(symlink(Path("outside").c_str(), Path(row.name + "/Uninstall.app/out").c_str()), 0);
        if (row.record != nullptr && std::string(row.record) == "this")
        {
            const FileDescriptor run(open(Path(row.name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ASSERT_TRUE(WriteRunRecord(run.Get()));
        }
        else if (row.record != nullptr)
            WriteFile(row.name + "/process-start", row.record, 0600);
        ASSERT_EQ(chmod(Path(row.name + "/Uninstall.app/Contents").c_str(), 0555), 0);
        ASSERT_EQ(chmod(Path(row.name).c_str(), row.mode), 0);
    }
    // Only folders: a link or a file with a run folder's name stays.
    ASSERT_EQ(symlink(Path(cases[0].name).c_str(), Path(std::string(kHex, 31) + "5-" + ended).c_str()), 0);
    WriteFile(std::string(kHex, 31) + "6-" + ended, "file");

    RemoveAbandonedRunFolders(folder.c_str(), geteuid());
    for (const Case& row : cases)
        EXPECT_EQ(std::filesystem::exists(Path(row.name)), !row.goes) << row.name;
    EXPECT_TRUE(std::filesystem::is_symlink(Path(std::string(kHex, 31) + "5-" + ended)));
    EXPECT_EQ(ReadFile(Path(std::string(kHex, 31) + "6-" + ended)), "file");
    EXPECT_EQ(ReadFile(canary), "keep");
    if (geteuid() == 0)
    {
        // Another user's run folder is never this user's to judge.
        const std::string theirs = std::string(kHex, 31) + "7-" + ended;
        std::filesystem::create_directories(Path(theirs));
        ASSERT_EQ(chmod(Path(theirs).c_str(), 0700), 0);
        ASSERT_EQ(chown(Path(theirs).c_str(), 54321, 54321), 0);
        RemoveAbandonedRunFolders(folder.c_str(), geteuid());
        EXPECT_TRUE(std::filesystem::exists(Path(theirs)));
    }
}
