#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

#include "InstallUtilityCommand.h"
#include "RemovalFixture.h"

namespace
{

class InstallUtilityCommandTest : public RemovalFixture
{
protected:
    void SetUp() override
    {
        RemovalFixture::SetUp();
        definition = base + "/sku.xml";
        targetFile = base + "/target_path.xml";
        writeFile(definition,
                  "<product><sku name='P'/><installFiles><file fileName='a'/>"
                  "<directory fileName='d'><file fileName='b'/></directory></installFiles></product>");
        writeFile(targetFile, "<targetPath path='" + target + "'/>");
        writeFile(target + "/a", "a");
        writeFile(target + "/d/b", "b");
    }

    int run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "InstallUtility");
        std::vector<const char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        CapturedStream outStream;
        CapturedStream errorStream;
        const int status = InstallUtilityCommand::Run(static_cast<int>(arguments.size()), argv.data(),
                                                      outStream.get(), errorStream.get());
        out = outStream.text();
        errors = errorStream.text();
        return status;
    }

    bool untouched() { return exists(target + "/a") && exists(target + "/d/b"); }

    std::string definition;
    std::string targetFile;
    std::string out;
    std::string errors;
};

bool parses(std::vector<const char*> argv, InstallUtilityCommand& command)
{
    argv.insert(argv.begin(), "InstallUtility");
    return command.Parse(static_cast<int>(argv.size()), argv.data());
}

} // namespace

TEST(InstallUtilityCommandParseTest, CommandLines)
{
    InstallUtilityCommand plain;
    EXPECT_TRUE(parses({"-uninstall", "/x/sku.xml", "/x/target_path.xml"}, plain));
    EXPECT_EQ(std::string(plain.definitionPath.ConstData()), "/x/sku.xml");
    EXPECT_EQ(std::string(plain.targetFilePath.ConstData()), "/x/target_path.xml");
    EXPECT_FALSE(plain.verbose);
    EXPECT_FALSE(plain.dryRun);

    InstallUtilityCommand both;
    EXPECT_TRUE(parses({"-uninstall", "d", "t", "-n", "-v"}, both));
    EXPECT_TRUE(both.verbose);
    EXPECT_TRUE(both.dryRun);

    InstallUtilityCommand verbose;
    EXPECT_TRUE(parses({"-uninstall", "d", "t", "-v"}, verbose));
    EXPECT_TRUE(verbose.verbose);
    EXPECT_FALSE(verbose.dryRun);

    InstallUtilityCommand bad;
    EXPECT_FALSE(parses({}, bad));
    EXPECT_FALSE(parses({"-uninstall"}, bad));
    EXPECT_FALSE(parses({"-uninstall", "d"}, bad));
    EXPECT_FALSE(parses({"-install", "d", "t"}, bad));
    EXPECT_FALSE(parses({"-uninstall", "", "t"}, bad));
    EXPECT_FALSE(parses({"-uninstall", "d", ""}, bad));
    EXPECT_FALSE(parses({"-uninstall", "d", "t", "-x"}, bad));
    EXPECT_FALSE(parses({"-uninstall", "d", "t", "-vn"}, bad));
    EXPECT_FALSE(parses({"d", "t", "-uninstall"}, bad));
}

TEST_F(InstallUtilityCommandTest, BadCommandLineExitsTwoAndTouchesNothing)
{
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(errors, "usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n]\n");
    EXPECT_EQ(run({"-uninstall", definition}), 2);
    EXPECT_EQ(run({"-uninstall", definition, targetFile, "-q"}), 2);
    EXPECT_EQ(run({"-remove", definition, targetFile}), 2);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(untouched());
}

TEST_F(InstallUtilityCommandTest, UnreadableFilesExitTwoAndTouchNothing)
{
    EXPECT_EQ(run({"-uninstall", base + "/absent.xml", targetFile, "-v"}), 2);
    EXPECT_EQ(errors, "cannot read the product definition " + base + "/absent.xml\n");
    EXPECT_EQ(run({"-uninstall", definition, base + "/absent.xml", "-v"}), 2);
    EXPECT_EQ(errors, "cannot read the target path from " + base + "/absent.xml\n");

    writeFile(base + "/broken.xml", "<product><installFiles><file fileName='a'/>");
    EXPECT_EQ(run({"-uninstall", base + "/broken.xml", targetFile}), 2);
    writeFile(base + "/other.xml", "<catalog><installFiles><file fileName='a'/></installFiles></catalog>");
    EXPECT_EQ(run({"-uninstall", base + "/other.xml", targetFile}), 2);
    EXPECT_EQ(run({"-uninstall", base, targetFile}), 2);
    // Nesting deep enough to exhaust the parser's stack is refused before parsing, in both files.
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    writeFile(base + "/deep.xml",
              "<product><installFiles><file fileName='a'/></installFiles>" + deep + "</product>");
    EXPECT_EQ(run({"-uninstall", base + "/deep.xml", targetFile}), 2);
    writeFile(base + "/deeptarget.xml", "<targetPath path='" + target + "'>" + deep + "</targetPath>");
    EXPECT_EQ(run({"-uninstall", definition, base + "/deeptarget.xml"}), 2);

    writeFile(base + "/relative.xml", "<targetPath path='target'/>");
    EXPECT_EQ(run({"-uninstall", definition, base + "/relative.xml"}), 2);
    writeFile(base + "/nodir.xml", "<targetPath path='" + base + "/absent'/>");
    EXPECT_EQ(run({"-uninstall", definition, base + "/nodir.xml"}), 2);
    writeFile(base + "/file.xml", "<targetPath path='" + target + "/a'/>");
    EXPECT_EQ(run({"-uninstall", definition, base + "/file.xml"}), 2);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(untouched());
}

TEST_F(InstallUtilityCommandTest, RunsTheRemoval)
{
    EXPECT_EQ(run({"-uninstall", definition, targetFile, "-n"}), 0);
    // A dry run lists what it would do even without -v.
    EXPECT_EQ(out, "would remove " + target + "/a\nwould remove " + target + "/d/b\nwould remove " + target +
                       "/d\nsummary: 3 removed, 0 kept, 0 missing, 0 failed\n");
    EXPECT_TRUE(untouched());

    EXPECT_EQ(run({"-uninstall", definition, targetFile}), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(listing(target).empty());

    // A definition without an install tree lists nothing and removes nothing.
    writeFile(target + "/a", "a");
    writeFile(base + "/empty.xml", "<product><sku name='P'/></product>");
    EXPECT_EQ(run({"-uninstall", base + "/empty.xml", targetFile, "-v"}), 0);
    EXPECT_EQ(out, "summary: 0 removed, 0 kept, 0 missing, 0 failed\n");
    EXPECT_TRUE(exists(target + "/a"));
}

TEST_F(InstallUtilityCommandTest, TheProgramExitsWithTheRunsStatus)
{
    const auto exitStatus = [](const std::string& command)
    {
        const int status = system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string tool = INSTALL_UTILITY_PATH;
    EXPECT_EQ(exitStatus("'" + tool + "' -uninstall 2>/dev/null"), 2);
    writeFile(base + "/refusing.xml",
              "<product><installFiles><file fileName='..'/></installFiles></product>");
    EXPECT_EQ(
        exitStatus("'" + tool + "' -uninstall '" + base + "/refusing.xml' '" + targetFile + "' 2>/dev/null"),
        1);
    EXPECT_EQ(exitStatus("'" + tool + "' -uninstall '" + definition + "' '" + targetFile + "' -v >/dev/null"),
              0);
    EXPECT_TRUE(listing(target).empty());
}

TEST_F(InstallUtilityCommandTest, KeepsRemovingWhenTheOutputsReaderHasGone)
{
    std::filesystem::remove_all(target + "/a");
    std::filesystem::remove_all(target + "/d");
    std::string entries;
    for (int i = 0; i < 400; ++i)
    {
        const std::string name =
            "a-file-with-a-name-long-enough-to-fill-the-output-buffer-" + std::to_string(i);
        entries += "<file fileName='" + name + "'/>";
        writeFile(target + "/" + name, "x");
    }
    writeFile(definition, "<product><installFiles>" + entries + "</installFiles></product>");

    // Standard output is a pipe whose reading end is already closed.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    const std::string tool = INSTALL_UTILITY_PATH;
    const char* argv[] = {tool.c_str(), "-uninstall", definition.c_str(), targetFile.c_str(), "-v", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, tool.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_TRUE(listing(target).empty());
}
