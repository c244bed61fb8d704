// Random trees of files, folders, bundles and links, and random definitions naming them (hostile
// names included): whatever the definition says, nothing outside the target changes, every listed
// entry that is not kept is gone, and a dry run changes nothing at all.
//
// Runs for TQ_CONTAINMENT_SECONDS (default 3) from the seed TQ_CONTAINMENT_SEED (default random);
// a failing case fails the test with the command that runs it again alone (its seed, no time).

#include "FileDescriptor.h"
#include "InstallRemover.h"
#include "LineEscaping.h"
#include "RemovalFixture.h"
#include "RunProgram.h"

#include <chrono>
#include <dirent.h>
#include <iostream>
#include <random>
#include <sys/wait.h>

namespace
{

// Names the trees on disk use: plain ones, and ones that are hostile when printed.
const std::vector<std::string> diskNames = {"a",           "b",    "Lib",      "App.bundle", "x y",
                                            "line\nbreak", "\x01", "\x1b[31m", "\xff\xfe",   "back\\slash"};
// Names only a definition holds: each must be refused or stay within its folder.
const std::vector<std::string> hostileNames = {
    "", ".", "..", "a/b", "../outside", "/", "../..", "outside", std::string("a\0/../..", 8), "canary.txt"};

// What one listed entry was before the run.
struct Listed
{
    std::string path;
    bool isDirectoryEntry;
    bool dontDelete;
    mode_t typeBefore; // 0: absent
};

class Case
{
public:
    Case(uint32_t seed, const std::string& targetFolder, const std::string& outsideFolder)
        : random(seed), target(targetFolder), outside(outsideFolder)
    {
    }

    void makeTree(const std::string& folder, int depth)
    {
        for (size_t count = pick(depth == 0 ? 8 : 4); count > 0; --count)
        {
            const std::string path = folder + "/" + diskNames[pick(diskNames.size())];
            struct stat status;
            if (lstat(path.c_str(), &status) == 0)
                continue;
            const size_t kind = pick(depth < 3 ? 3 : 2);
            if (kind == 0)
                std::ofstream(path) << "content " << pick(1000);
            else if (kind == 1 && symlink(linkText().c_str(), path.c_str()) != 0)
                std::cerr << "cannot make link " << path << "\n";
            else if (kind == 2 && mkdir(path.c_str(), 0755) == 0)
                makeTree(path, depth + 1);
        }
    }

    // A definition listing entries of the tree (as it is on disk now) and made-up ones.
    std::string definition()
    {
        return "<product><installFiles>" + entries(target, 0) + "</installFiles></product>";
    }

private:
    size_t pick(size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); }
    bool chance(int percent) { return static_cast<int>(pick(100)) < percent; }

    // Links lead inside the target, outside it, above it, or nowhere.
    std::string linkText()
    {
        const std::string choices[] = {
            outside + "/canary.txt", outside + "/Folder", outside, "..", "../..", "../outside", target,
            target + "/a",           "/nonexistent/x",    "."};
        return choices[pick(sizeof choices / sizeof choices[0])];
    }

    std::string entries(const std::string& folder, int depth)
    {
        const std::vector<std::string> onDisk = namesIn(folder);
        std::string text;
        for (size_t count = pick(depth == 0 ? 7 : 4); count > 0; --count)
        {
            std::string name;
            if (!onDisk.empty() && chance(60))
                name = onDisk[pick(onDisk.size())];
            else
                name =
                    chance(50) ? diskNames[pick(diskNames.size())] : hostileNames[pick(hostileNames.size())];
            struct stat status;
            const bool isFolder =
                lstat((folder + "/" + name).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
            const bool directory = chance(isFolder ? 50 : 20);
            text += directory ? "<directory" : "<file";
            if (!chance(3))
                text += " fileName='" + xml(name) + "'";
            text += flag("dontdelete") + flag("ignoreinstallerrors");
            if (directory)
                text += ">" + (depth < 3 ? entries(folder + "/" + name, depth + 1) : "") + "</directory>";
            else if (chance(20))
                text += "><shortCut name='" + xml(anyName(onDisk)) + "'" + shortCutDir(onDisk) + "/></file>";
            else
                text += "/>";
        }
        return text;
    }

    std::string flag(const char* attribute)
    {
        const char* values[] = {"1", "0", "yes"};
        return chance(20) ? std::string(" ") + attribute + "='" + values[pick(3)] + "'" : "";
    }

    std::string anyName(const std::vector<std::string>& onDisk)
    {
        if (!onDisk.empty() && chance(50))
            return onDisk[pick(onDisk.size())];
        return chance(50) ? diskNames[pick(diskNames.size())] : hostileNames[pick(hostileNames.size())];
    }

    std::string shortCutDir(const std::vector<std::string>& onDisk)
    {
        switch (pick(4))
        {
        case 0:
            return "";
        case 1:
            return " dir='" + xml(anyName(onDisk)) + "'";
        case 2:
            return " dir='" + xml(outside) + "'";
        default:
            return " dir='" + xml(anyName(onDisk) + "/" + anyName(onDisk)) + "'";
        }
    }

    static std::vector<std::string> namesIn(const std::string& folder)
    {
        std::vector<std::string> names;
        if (DIR* listing = opendir(folder.c_str()))
        {
            while (const dirent* entry = readdir(listing))
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                    names.push_back(entry->d_name);
            closedir(listing);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // An attribute value: markup characters and control bytes as references, other bytes as they
    // are (bytes that are not UTF-8 included, which the parser passes on).
    static std::string xml(const std::string& text)
    {
        std::string escaped;
        for (const char c : text)
        {
            const unsigned char byte = static_cast<unsigned char>(c);
            if (c == '&' || c == '<' || c == '>' || c == '\'' || c == '"' || byte < 0x20 || byte == 0x7f)
                escaped += "&#" + std::to_string(byte) + ";";
            else
                escaped += c;
        }
        return escaped;
    }

    std::mt19937 random;
    std::string target;
    std::string outside;
};

class RemovalContainmentTest : public RemovalFixture
{
protected:
    static double secondsToRun()
    {
        const char* secondsText = getenv("TQ_CONTAINMENT_SECONDS");
        return secondsText ? atof(secondsText) : 3.0;
    }

    // The command that runs one case again, alone, with this test's program (as the test runs it;
    // a chroot later hides /proc, so it is found before).
    static std::string replayCommand()
    {
        char program[4096];
        const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string("TQ_CONTAINMENT_SECONDS=0 ") +
               (length > 0 ? std::string(program, static_cast<size_t>(length)) : "RemovalContainmentTest") +
               " --gtest_filter=" + test->test_suite_name() + "." + test->name();
    }

    // Runs cases until the time is up, stopping at the first that fails; returns what went wrong
    // with the command that replays it, or nothing. top is where base appears to this process.
    std::string runCases(const std::string& top, const std::string& replay)
    {
        const char* seedText = getenv("TQ_CONTAINMENT_SEED");
        const double seconds = secondsToRun();
        const uint32_t firstSeed =
            seedText ? static_cast<uint32_t>(strtoul(seedText, nullptr, 10)) : std::random_device()();
        // Canaries beside the target and in "outside", where the trees' links lead.
        writeFile(top + "/outside/Folder/inner.txt", "inner");
        writeFile(top + "/outside/Folder/Sub/deep.txt", "deep");
        writeFile(top + "/canary.txt", "beside the target");
        if (symlink("Folder", (top + "/outside/FolderLink").c_str()) != 0)
            return "cannot make the link outside/FolderLink";
        const std::vector<std::string> outsideBefore = outsideSnapshot(top, top + "/target");

        const auto start = std::chrono::steady_clock::now();
        unsigned long cases = 0;
        std::string failed;
        do
        {
            const uint32_t seed = firstSeed + static_cast<uint32_t>(cases++);
            const std::string failure = runCase(seed, top, outsideBefore);
            if (!failure.empty())
            {
                failed = "case seed " + std::to_string(seed) + ": " + failure +
                         "\nrun it again alone: TQ_CONTAINMENT_SEED=" + std::to_string(seed) + " " + replay;
                break;
            }
        } while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds);
        std::cout << "containment: first seed " << firstSeed << ", " << cases << " cases" << std::endl;
        return failed;
    }

    // One case: a fresh tree, a dry run that must change nothing, a real run that must remove
    // every listed entry that is not kept. Returns what went wrong, or nothing.
    std::string runCase(uint32_t seed, const std::string& top, const std::vector<std::string>& outsideBefore)
    {
        const std::string caseTarget = top + "/target";
        std::filesystem::remove_all(caseTarget);
        makeDirectory(caseTarget);
        Case maker(seed, caseTarget, top + "/outside");
        maker.makeTree(caseTarget, 0);
        const std::string text = maker.definition();
        const FileNode root = definitionTree(text);
        const std::string shown =
            " in the definition " + std::string(EscapeLineText(TqString(text.c_str())).ConstData());

        const std::vector<std::string> before = snapshot(caseTarget);
        if (remove(caseTarget, root, true) == 2 || snapshot(caseTarget) != before ||
            outsideSnapshot(top, caseTarget) != outsideBefore)
            return "the dry run changed something" + shown;

        std::vector<Listed> listed;
        collect(root, caseTarget, listed);
        if (remove(caseTarget, root, false) == 2 || !exists(caseTarget) ||
            outsideSnapshot(top, caseTarget) != outsideBefore)
            return "something outside the target changed" + shown;
        for (const Listed& entry : listed)
        {
            if (entry.dontDelete || entry.typeBefore == 0)
                continue;
            const bool stays = exists(entry.path);
            // A listed directory stays only while something is left in it; a file entry, whatever
            // it is on disk, goes. (A directory entry on a file or link fails, as it should.)
            if (entry.isDirectoryEntry ? (S_ISDIR(entry.typeBefore) && stays && listing(entry.path).empty())
                                       : stays)
                return "a listed entry stayed: " +
                       std::string(EscapeLineText(TqString(entry.path.c_str())).ConstData()) + shown;
        }
        return "";
    }

    static int remove(const std::string& caseTarget, const FileNode& root, bool dryRun)
    {
        CapturedStream out;
        InstallRemover remover(TqString(caseTarget.c_str()), true, dryRun, out.get(), out.get());
        const FileDescriptor target(open(caseTarget.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        remover.SetTargetFolder(target.Get());
        return remover.Run(root);
    }

    // The listed entries the walk reaches: names of one entry, below folders that are folders.
    static void collect(const FileNode& node, const std::string& path, std::vector<Listed>& listed)
    {
        for (const auto& child : node.children)
        {
            const std::string name = child.second.name.ConstData();
            if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
                continue;
            Listed entry;
            entry.path = path + "/" + name;
            entry.isDirectoryEntry = child.second.isDirectory;
            entry.dontDelete = child.second.dontDelete;
            struct stat status;
            entry.typeBefore = lstat(entry.path.c_str(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
            listed.push_back(entry);
            if (entry.isDirectoryEntry && S_ISDIR(entry.typeBefore))
                collect(child.second, entry.path, listed);
        }
    }

    // Everything in top but the target and what is in it.
    static std::vector<std::string> outsideSnapshot(const std::string& top, const std::string& caseTarget)
    {
        std::vector<std::string> nodes = snapshot(top.empty() ? "/" : top);
        nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                                   [&](const std::string& node)
                                   {
                                       return node.compare(0, caseTarget.size() + 1, caseTarget + " ") == 0 ||
                                              node.compare(0, caseTarget.size() + 1, caseTarget + "/") == 0;
                                   }),
                    nodes.end());
        return nodes;
    }
};

} // namespace

TEST_F(RemovalContainmentTest, RandomTreesAndDefinitionsStayInsideTheTarget)
{
    // The cases run in a child whose root is the test's folder, where it can: should the walk
    // ever escape, it meets only the canaries.
    const std::string replay = replayCommand();
    const RunProgram::ChildOutcome outcome = RunProgram::RunInChild(
        [&](int output)
        {
            std::string top = base;
            if (chroot(base.c_str()) == 0 && chdir("/") == 0)
                top = "";
            else
                std::cout << "containment: not confined to the test folder (changing the root needs root)\n";
            const std::string failed = runCases(top, replay);
            std::cout.flush();
            return write(output, failed.data(), failed.size()) == static_cast<ssize_t>(failed.size()) ? 0 : 1;
        },
        static_cast<int>(secondsToRun()) + 120);
    ASSERT_GT(outcome.pid, 0) << "cannot start the cases";
    ASSERT_TRUE(outcome.waitStatus) << "the cases did not end in time";
    ASSERT_TRUE(WIFEXITED(*outcome.waitStatus))
        << "the cases ended by signal " << WTERMSIG(*outcome.waitStatus);
    EXPECT_TRUE(outcome.text.empty()) << outcome.text;
    EXPECT_EQ(WEXITSTATUS(*outcome.waitStatus), 0) << "the cases could not say how they ended";
}
