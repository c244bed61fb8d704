#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "FileDescriptor.h"
#include "RemovalLock.h"
#include "RunProgram.h"
#include "TemporaryFolder.h"

namespace
{

// How many of this process's descriptors are open on the file.
int DescriptorsOn(const struct stat& file)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    {
        struct stat status;
        if (stat(entry.path().c_str(), &status) == 0 && status.st_dev == file.st_dev &&
            status.st_ino == file.st_ino)
            ++count;
    }
    return count;
}

} // namespace

// The run that holds the turn removes the lock file as it ends; a run that was waiting on that
// file then takes its turn only on the file at the name now, once whoever holds that lets go.
TEST(RemovalLock, TheTurnIsHadOnlyOnTheFileAtTheNameAndTheFileGoesWithTheRun)
{
    TemporaryFolder folder;
    struct stat target;
    ASSERT_EQ(stat(folder.path().c_str(), &target), 0);
    const TqString targetPath(folder.path().c_str());
    Result<RemovalLock::Folder> opened = RemovalLock::OpenFolder();
    ASSERT_TRUE(opened.IsDone()) << opened.GetStatus().Text().ConstData();
    const FileDescriptor lockFolder = std::move(opened.Value().fd);
    if (!lockFolder.IsOpen())
        GTEST_SKIP() << "this user has no runtime folder of their own, so runs do not take turns";
    const std::string name = std::to_string(target.st_dev) + "-" + std::to_string(target.st_ino);
    const auto atName = [&](struct stat& status)
    { return fstatat(lockFolder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0; };
    struct stat linked;

    {
        RemovalLock alone;
        ASSERT_TRUE(alone.Take(target, targetPath, 1, stderr).IsDone());
        EXPECT_TRUE(atName(linked));
    }
    EXPECT_FALSE(atName(linked)) << "the lock file outlived its run";

    // The first run holds the turn, the second waits on its file.
    RemovalLock first;
    ASSERT_TRUE(first.Take(target, targetPath, 1, stderr).IsDone());
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const FileDescriptor said(ends[0]);
    FILE* secondErrors = fdopen(ends[1], "w");
    ASSERT_NE(secondErrors, nullptr);
    RemovalLock second;
    std::atomic<bool> secondHasIt{false};
    std::thread secondRun(
        [&]
        {
            secondHasIt = second.Take(target, targetPath, 30, secondErrors).IsDone();
            fclose(secondErrors);
        });
    std::string text;
    EXPECT_TRUE(RunProgram::ReadUntil(said.Get(), "waiting for another removal", 20, text));

    // As the first ends (its file gone from the name), a third run makes the name's file anew and
    // holds it before the second gets the first's.
    ASSERT_EQ(unlinkat(lockFolder.Get(), name.c_str(), 0), 0);
    const FileDescriptor third(openat(lockFolder.Get(), name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(flock(third.Get(), LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(atName(linked));
    first.Release();
    // The second finds the file it got is no longer the one at the name, and waits on the third's.
    RunProgram::WaitUntil([&] { return DescriptorsOn(linked) >= 2; }, 20);
    EXPECT_EQ(DescriptorsOn(linked), 2) << "the second run did not turn to the file at the name";
    EXPECT_FALSE(secondHasIt) << "two runs held the turn at once";

    ASSERT_EQ(flock(third.Get(), LOCK_UN), 0);
    secondRun.join();
    EXPECT_TRUE(secondHasIt);
    struct stat held;
    EXPECT_TRUE(atName(held) && held.st_ino == linked.st_ino);
    second.Release();
    EXPECT_FALSE(atName(held));
}

// Root's lock folder is taken only when it is root's alone with mode 0700: one that others may
// enter or write (made beforehand by someone else) is refused, naming it.
TEST(RemovalLock, RootsLockFolderIsRefusedUnlessItIsPrivate)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "root's lock folder needs root";
    // A /run of this test's own, so the machine's lock folder is not touched.
    ASSERT_EQ(unshare(CLONE_NEWNS), 0) << strerror(errno);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << strerror(errno);
    ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0) << strerror(errno);
    for (const mode_t mode : {0755, 0700})
    {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all("/run/InstallUtility");
        ASSERT_EQ(mkdir("/run/InstallUtility", mode), 0);
        ASSERT_EQ(chmod("/run/InstallUtility", mode), 0);
        const Result<RemovalLock::Folder> opened = RemovalLock::OpenFolder();
        EXPECT_EQ(std::string(opened.GetStatus().Message().ConstData()),
                  mode == 0700 ? "" : "the lock folder /run/InstallUtility is not uid 0's alone with mode 0700");
        EXPECT_EQ(opened.IsDone() && opened.Value().fd.IsOpen(), mode == 0700);
    }
}
