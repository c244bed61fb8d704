#include "DiskChanges.h"
#include "DryRunDiskChanges.h"
#include "FolderListing.h"
#include "RemovalFixture.h"
#include "StatusReadAhead.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace
{

// One change in a folder of the tree (0: the target, 1: its folder "d"), and what the system
// answers.
struct Step
{
    int folder;
    bool directory; // RemoveEmptyDirectory, else RemoveName
    const char* name;
    int expected;
};

class DiskChangesTest : public RemovalFixture
{
protected:
    // f, d/x, e/ and links l (to outside) and dl (to d) in the target.
    void makeTree()
    {
        writeFile(target + "/f", "f");
        writeFile(target + "/d/x", "x");
        makeDirectory(target + "/e");
        makeLink(outside + "/canary.txt", target + "/l");
        makeLink(target + "/d", target + "/dl");
    }

    // Runs the steps through changes; every answer must be the expected one.
    void runSteps(DiskChanges& changes, const std::vector<Step>& steps, const char* which)
    {
        const int folders[] = {open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                               open((target + "/d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        ASSERT_GE(folders[0], 0);
        ASSERT_GE(folders[1], 0);
        for (size_t index = 0; index < steps.size(); ++index)
        {
            const Step& step = steps[index];
            const int folder = folders[step.folder];
            const int answer = (step.directory ? changes.RemoveEmptyDirectory(folder, step.name)
                                               : changes.RemoveName(folder, step.name))
                                   .Errno();
            EXPECT_EQ(answer, step.expected)
                << which << " step " << index << " (" << step.name << "): " << strerror(answer);
        }
        close(folders[0]);
        close(folders[1]);
    }
};

} // namespace

TEST_F(DiskChangesTest, TheDryRunAnswersAsTheRealChangesDo)
{
    const std::vector<Step> steps = {
        {0, false, "f", 0},         {0, false, "f", ENOENT},  // a name goes once
        {0, false, "none", ENOENT}, {0, false, "d", EISDIR},  // a directory is not removed as a name
        {0, false, "l", 0},                                   // a link goes as a link
        {0, true, "d", ENOTEMPTY},                            // x is still in it
        {1, false, "x", 0},         {0, true, "d", 0},        // empty once x went
        {0, true, "d", ENOENT},     {0, true, "dl", ENOTDIR}, // a link to a directory is not one
        {0, true, "e", 0},          {0, true, "none", ENOENT},
    };
    makeTree();
    const std::vector<std::string> before = snapshot(base);
    DryRunDiskChanges dryRun;
    runSteps(dryRun, steps, "dry run");
    EXPECT_EQ(snapshot(base), before);

    RealDiskChanges real;
    runSteps(real, steps, "real");
    EXPECT_EQ(listing(target), std::vector<std::string>{target + "/dl@"});
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
}

// The dry run reads what holds for a whole folder once, but a folder that changes between two of
// its entries (here made immutable, then freed again) is judged as it now is.
TEST_F(DiskChangesTest, TheDryRunSeesAFolderChangeBetweenTwoOfItsEntries)
{
    writeFile(target + "/d/a", "a");
    writeFile(target + "/d/b", "b");
    writeFile(target + "/d/c", "c");
    const FileDescriptor folder(open((target + "/d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder.IsOpen());
    DryRunDiskChanges dryRun;
    EXPECT_EQ(dryRun.RemoveName(folder.Get(), "a").Errno(), 0);
    std::string reason;
    if (!makeImmutable(target + "/d", reason))
        GTEST_SKIP() << reason;
    EXPECT_EQ(dryRun.RemoveName(folder.Get(), "b").Errno(), EPERM);
    setImmutable(target + "/d", false);
    EXPECT_EQ(dryRun.RemoveName(folder.Get(), "b").Errno(), 0);
}

// A folder the walk prepared is read once, but once the walk is done with it its descriptor's
// number may come back for another folder, which is judged as itself; what was taken stays
// taken, through whichever descriptor its folder is reached.
TEST_F(DiskChangesTest, TheDryRunJudgesAReusedDescriptorByTheFolderItNowNames)
{
    writeFile(target + "/d/x", "d");
    writeFile(target + "/e/x", "e");
    DryRunDiskChanges dryRun;
    const int first = open((target + "/d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(first, 0);
    dryRun.PrepareToEmpty(first);
    EXPECT_EQ(dryRun.RemoveName(first, "x").Errno(), 0);
    EXPECT_EQ(dryRun.RemoveName(first, "x").Errno(), ENOENT);
    dryRun.DoneWithFolder(first);
    close(first);

    const FileDescriptor second(open((target + "/e").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(second.Get(), first) << "the lowest free number comes back";
    EXPECT_EQ(dryRun.RemoveName(second.Get(), "x").Errno(), 0);
    const FileDescriptor again(open((target + "/d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(dryRun.RemoveName(again.Get(), "x").Errno(), ENOENT);
}

namespace
{

// Reads of the test's reader, by name ("n0" to "n63"). When slowRead is set the read of "n63" takes
// a while, and says when it began and ended.
std::atomic<int> readsOf[64];
std::atomic<bool> slowRead{false}, slowReadBegun{false}, slowReadEnded{false};

int countedRead(int folderFd, const char* name, struct statx& status)
{
    const int index = std::atoi(name + 1);
    ++readsOf[index];
    const bool slow = slowRead && index == 63;
    if (slow)
    {
        slowReadBegun = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int error = statx(folderFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &status) == 0 ? 0 : errno;
    if (slow)
        slowReadEnded = true;
    return error;
}

} // namespace

// Names read ahead on the second thread give what a read when asked gives, each name is read once
// whichever thread reads it, and the walk's end of a folder waits for a read under way there.
TEST_F(DiskChangesTest, TheReadAheadReadsEachNameOnceAndAsTheWalkWould)
{
    std::vector<std::string> names;
    std::vector<const char*> announced;
    for (int i = 0; i < 64; ++i)
        names.push_back("n" + std::to_string(i));
    for (const std::string& name : names)
        announced.push_back(name.c_str());
    for (int i = 0; i < 60; ++i) // 60 to 63 are missing
        i % 7 == 0 ? makeDirectory(target + "/" + names[i]) : writeFile(target + "/" + names[i], "");
    const FileDescriptor folder(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int round = 0; round < 20; ++round)
    {
        for (std::atomic<int>& reads : readsOf)
            reads = 0;
        StatusReadAhead readAhead(countedRead);
        readAhead.Begin(folder.Get(), announced);
        for (int i = 0; i < 64; i += i == 40 ? 2 : 1) // the walk passes over n41
        {
            struct statx ahead, now;
            const int error = readAhead.Read(folder.Get(), names[i].c_str(), ahead);
            const int expected =
                statx(folder.Get(), names[i].c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &now) == 0
                    ? 0
                    : errno;
            ASSERT_EQ(error, expected) << names[i];
            if (error == 0)
            {
                EXPECT_TRUE(ahead.stx_ino == now.stx_ino && ahead.stx_mode == now.stx_mode) << names[i];
            }
            EXPECT_EQ(readsOf[i], 1) << names[i] << " in round " << round;
        }
        readAhead.End(folder.Get());
        EXPECT_LE(readsOf[41], 1);
    }

    slowRead = true;
    StatusReadAhead readAhead(countedRead);
    readAhead.Begin(folder.Get(), announced);
    // The second thread begins with the last name (there is none on a single processor).
    for (int waited = 0; waited < 1000 && !slowReadBegun; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    readAhead.End(folder.Get());
    EXPECT_EQ(slowReadEnded, slowReadBegun.load());
    slowRead = false;
}

// The second thread lists the folder, and the walk's end of the folder hands the names over; a
// folder of more entries than it reads ahead is not listed.
TEST_F(DiskChangesTest, TheReadAheadListsTheFolderForTheWalk)
{
    if (std::thread::hardware_concurrency() < 2)
        GTEST_SKIP() << "one processor: there is no second thread";
    for (size_t i = 0; i <= StatusReadAhead::kMostNames; ++i)
        writeFile(target + "/big/n" + std::to_string(i), "");
    for (const char* name : {"n0", "n1", "n2"})
        writeFile(target + "/small/" + name, "");
    const auto listedAhead = [&](const std::string& folderPath, std::vector<std::string>& names)
    {
        const FileDescriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        StatusReadAhead readAhead(countedRead);
        readAhead.Begin(folder.Get(), {"n0"});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::string listed;
        const bool handedOver = readAhead.End(folder.Get(), &listed);
        for (size_t at = 0; at < listed.size(); at += names.back().size() + 1)
            names.emplace_back(listed.c_str() + at);
        std::sort(names.begin(), names.end());
        // A listing through the walk's descriptor afterwards still starts from the first name.
        FolderListing again(folder.Get());
        EXPECT_NE(again.Next(), nullptr) << folderPath;
        return handedOver;
    };
    std::vector<std::string> names;
    ASSERT_TRUE(listedAhead(target + "/small", names));
    EXPECT_EQ(names, (std::vector<std::string>{"n0", "n1", "n2"}));
    EXPECT_FALSE(listedAhead(target + "/big", names));
}

// Whether a folder would be empty once the walk is done with it is answered from the folder's
// contents, whether the second thread listed it or not.
TEST_F(DiskChangesTest, TheDryRunFindsAFolderEmptyOnlyWhenAllInItWent)
{
    for (const bool unlisted : {false, true})
    {
        writeFile(target + "/d/x", "x");
        if (unlisted)
            writeFile(target + "/d/other", "other");
        const FileDescriptor folder(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor inner(open((target + "/d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        DryRunDiskChanges dryRun;
        dryRun.PrepareToEmpty(inner.Get());
        dryRun.WillRemoveNames(inner.Get(), {"x"});
        EXPECT_EQ(dryRun.RemoveName(inner.Get(), "x").Errno(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // time for the listing
        dryRun.DoneWithFolder(inner.Get());
        EXPECT_EQ(dryRun.RemoveEmptyDirectory(folder.Get(), "d").Errno(), unlisted ? ENOTEMPTY : 0)
            << unlisted;
        std::filesystem::remove_all(target + "/d");
    }
}
