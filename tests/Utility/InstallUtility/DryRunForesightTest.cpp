// The dry run against the real run on the same trees: every failure the real run meets, the dry
// run foresees, with the same path and reason, as root and as a user.
#include "RemovalFixture.h"
#include "RemovalLine.h"
#include "RunProgram.h"

namespace
{

const uid_t user = 4242;
const uid_t otherUser = 4343;

class DryRunForesightTest : public RemovalFixture
{
protected:
    void SetUp() override
    {
        RemovalFixture::SetUp();
        // The user must reach the tool and its files.
        ASSERT_EQ(chmod(base.c_str(), 0755), 0);
        tool = base + "/InstallUtility";
        std::filesystem::copy_file(INSTALL_UTILITY_PATH, tool);
        definition = base + "/sku.xml";
        writeFile(definition, "<product><sku name='P'/><installFiles>"
                              "<directory fileName='ro'><file fileName='f'/></directory>"
                              "<directory fileName='sticky'><file fileName='other'/><file fileName='mine'/></directory>"
                              "<file fileName='B.app'/><file fileName='imm'/><file fileName='plain'/>"
                              "</installFiles></product>");
    }

    // A target folder of its own for a row, its target file, and the plain file every row removes.
    std::string makeTarget(const std::string& name)
    {
        const std::string folder = base + "/" + name;
        makeDirectory(folder);
        writeFile(base + "/" + name + ".xml", "<targetPath path='" + folder + "'/>");
        writeFile(folder + "/plain", "p");
        return folder;
    }

    // A folder only its owner may read and search but no one may write, a sticky folder shared by
    // two users, and a bundle with such a folder inside; all the user's but the sticky folder
    // (root's) and the other user's file in it.
    static void makeFolders(const std::string& folder)
    {
        writeFile(folder + "/ro/f", "f");
        writeFile(folder + "/sticky/other", "o");
        writeFile(folder + "/sticky/mine", "m");
        writeFile(folder + "/B.app/Contents/x", "x");
        for (auto it = std::filesystem::recursive_directory_iterator(folder);
             it != std::filesystem::recursive_directory_iterator(); ++it)
            ASSERT_EQ(lchown(it->path().c_str(), user, user), 0);
        ASSERT_EQ(lchown(folder.c_str(), user, user), 0);
        ASSERT_EQ(chown((folder + "/sticky").c_str(), 0, 0), 0);
        ASSERT_EQ(chown((folder + "/sticky/other").c_str(), otherUser, otherUser), 0);
        ASSERT_EQ(chmod((folder + "/sticky").c_str(), 01777), 0);
        ASSERT_EQ(chmod((folder + "/ro").c_str(), 0555), 0);
        ASSERT_EQ(chmod((folder + "/B.app/Contents").c_str(), 0555), 0);
    }

    // The failure lines of a run of the tool on the row's target, as path and reason, in order;
    // a dry run's foresight ("would fail") and a real failure read alike.
    std::vector<std::string> failures(const std::string& name, bool asUser, bool dryRun, int& status)
    {
        RunProgram::Launch launch;
        launch.command = {tool, "-uninstall", definition, base + "/" + name + ".xml", dryRun ? "-n" : "-v"};
        launch.environment = RunProgram::EnvironmentWith({{"SUDO_UID", nullptr}, {"PKEXEC_UID", nullptr}});
        if (asUser)
            launch.user = user;
        launch.output = launch.errors = RunProgram::Captured;
        const RunProgram::Outcome outcome = RunProgram::Run(launch, 20);
        status = outcome.status;
        std::vector<std::string> lines;
        std::istringstream text(outcome.text);
        for (std::string line; std::getline(text, line);)
        {
            const RemovalLine parsed = ParseRemovalLine(TqString(line.c_str()));
            if (IsFailureLine(parsed.kind) || parsed.kind == RemovalLineKind::WouldFail)
                lines.push_back(std::string(parsed.subject.ConstData()) + ": " + parsed.reason.ConstData());
        }
        return lines;
    }

    std::string tool;
    std::string definition;
};

} // namespace

TEST_F(DryRunForesightTest, TheDryRunForeseesTheRealRunsFailuresLineForLine)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the tool as root and as another user, and to set flags";
    const char* denied = "Permission denied";
    const char* notPermitted = "Operation not permitted";
    const struct
    {
        const char* what;
        bool asUser;
        bool folders;       // the read-only, sticky and bundle folders of makeFolders
        bool immutable;     // an immutable file "imm"
        bool readOnlyMount; // the target is a read-only mount
        std::vector<std::pair<std::string, std::string>> expected; // path below the target, reason
    } rows[] = {
        {"root passes mode bits and sticky folders", false, true, false, false, {}},
        {"a user meets them",
         true,
         true,
         false,
         false,
         {{"ro/f", denied}, {"sticky/other", notPermitted}, {"B.app", std::string("Contents/x: ") + denied}}},
        {"an immutable file stops root", false, false, true, false, {{"imm", notPermitted}}},
        {"an immutable file stops a user", true, false, true, false, {{"imm", notPermitted}}},
        // Before it looks for a name: the entries that are not there fail all the same.
        {"a read-only file system stops root",
         false,
         false,
         false,
         true,
         {{"B.app", "Read-only file system"}, {"imm", "Read-only file system"}, {"plain", "Read-only file system"}}},
    };
    int index = 0;
    for (const auto& row : rows)
    {
        const std::string name = "target" + std::to_string(index++);
        const std::string folder = makeTarget(name);
        if (row.folders)
            makeFolders(folder);
        if (row.asUser)
        {
            ASSERT_EQ(lchown(folder.c_str(), user, user), 0);
        }
        std::string reason;
        if (row.immutable)
        {
            writeFile(folder + "/imm", "i");
            if (row.asUser)
            {
                ASSERT_EQ(lchown((folder + "/imm").c_str(), user, user), 0);
            }
            if (!makeImmutable(folder + "/imm", reason))
            {
                std::cout << "[ SKIPPED ROW ] " << row.what << ": " << reason << "\n";
                continue;
            }
        }
        if (row.readOnlyMount &&
            (!enterPrivateMountNamespace(reason) || !bindMount(folder, folder, reason) ||
             mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0))
        {
            std::cout << "[ SKIPPED ROW ] " << row.what << ": " << (reason.empty() ? strerror(errno) : reason)
                      << "\n";
            continue;
        }
        std::vector<std::string> expected;
        for (const auto& failure : row.expected)
            expected.push_back(folder + "/" + failure.first + ": " + failure.second);

        const std::vector<std::string> before = snapshot(folder);
        int foreseenStatus = -1;
        const std::vector<std::string> foreseen = failures(name, row.asUser, true, foreseenStatus);
        EXPECT_EQ(snapshot(folder), before) << row.what << ": the dry run changed the tree";
        int realStatus = -1;
        const std::vector<std::string> met = failures(name, row.asUser, false, realStatus);

        std::vector<std::string> metSorted = met;
        std::sort(metSorted.begin(), metSorted.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(metSorted, expected) << row.what;
        EXPECT_EQ(foreseen, met) << row.what;
        EXPECT_EQ(foreseenStatus, realStatus) << row.what;
        EXPECT_EQ(realStatus, expected.empty() ? 0 : 1) << row.what;
    }
}
