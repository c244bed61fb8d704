#include <chrono>
#include <csignal>
#include <map>
#include <sys/file.h>
#include <thread>

#include "FileDescriptor.h"
#include "InstallUtilityCommand.h"
#include "RemovalFixture.h"
#include "RemovalLock.h"
#include "RunProgram.h"

#if defined(__SANITIZE_ADDRESS__)
#define TOOL_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOOL_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace
{

// How the real program is started: extra environment entries, an address-space limit.
struct Launch
{
    std::vector<std::string> environment;
    rlim_t addressSpace = RLIM_INFINITY;
};

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

    // Starts the real program; its standard error goes to a file (read by finish), its standard
    // output to outFd, or to a file as well when outFd is -1.
    pid_t start(const std::vector<std::string>& arguments, const Launch& launch = Launch(), int outFd = -1)
    {
        const std::string index = std::to_string(started++);
        const std::string outFile = base + "/out." + index;
        const std::string errorFile = base + "/errors." + index;
        RunProgram::Launch program;
        program.command = {INSTALL_UTILITY_PATH};
        program.command.insert(program.command.end(), arguments.begin(), arguments.end());
        std::map<std::string, const char*> changes;
        for (const std::string& entry : launch.environment)
            changes[entry.substr(0, entry.find('='))] = entry.c_str() + entry.find('=') + 1;
        program.environment = RunProgram::EnvironmentWith(changes);
        program.addressSpace = launch.addressSpace;
        const int out =
            outFd >= 0 ? outFd : open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        program.input = RunProgram::Inherited;
        program.output = out;
        program.errors = err;
        const pid_t child = RunProgram::Start(program).pid;
        if (outFd < 0)
            close(out);
        close(err);
        outputs[child] = {outFile, errorFile};
        return child;
    }

    // Waits for a started program, at most a while (a hang fails rather than blocks the suite);
    // its exit status, or -1 when it was ended by a signal or killed here for taking too long.
    int finish(pid_t child)
    {
        const std::optional<int> status = RunProgram::WaitForStatus(child, 20);
        if (!status)
            ADD_FAILURE() << "the tool did not end within 20 seconds";
        out = readFile(outputs[child].first);
        errors = readFile(outputs[child].second);
        if (status && WIFSIGNALED(*status))
            ADD_FAILURE() << "the tool was ended by signal " << WTERMSIG(*status);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    int runTool(const std::vector<std::string>& arguments, const Launch& launch = Launch())
    {
        return finish(start(arguments, launch));
    }

    std::string definition;
    std::string targetFile;
    std::string out;
    std::string errors;
    int started = 0;
    std::map<pid_t, std::pair<std::string, std::string>> outputs;
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

TEST_F(InstallUtilityCommandTest, HelpPrintsTheUsageAndABadCommandLineExitsTwo)
{
    const std::string usage = InstallUtilityCommand::usage;
    EXPECT_EQ(usage.rfind("usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n]\n", 0), 0u);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(out, usage);
    EXPECT_EQ(errors, "");

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"-uninstall", definition},
                                               {"-uninstall", definition, targetFile, "-q"},
                                               {"-remove", definition, targetFile},
                                               {"--help", "-v"},
                                               {"-uninstall", definition, targetFile, "--help"}})
    {
        EXPECT_EQ(run(bad), 2);
        EXPECT_EQ(errors, usage);
        EXPECT_EQ(out, "");
    }
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
    // One root element and nothing after it: a second document glued on is not read in part.
    writeFile(base + "/tworoots.xml", "<product><installFiles/></product><product/>");
    EXPECT_EQ(run({"-uninstall", base + "/tworoots.xml", targetFile}), 2);
    writeFile(base + "/tail.xml", "<targetPath path='" + target + "'/>stray<targetPath path='/'/>");
    EXPECT_EQ(run({"-uninstall", definition, base + "/tail.xml"}), 2);
    EXPECT_EQ(errors, "cannot read the target path from " + base + "/tail.xml\n");
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
    EXPECT_EQ(out,
              "would remove " + target + "/a\nwould remove " + target + "/d/b\nwould remove " + target +
                  "/d\nsummary: 3 would be removed, 0 kept, 0 missing, 0 would fail, 0 failed, 0 ignored\n");
    EXPECT_TRUE(untouched());

    EXPECT_EQ(run({"-uninstall", definition, targetFile}), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(listing(target).empty());

    // A definition without an install tree lists nothing and removes nothing.
    writeFile(target + "/a", "a");
    writeFile(base + "/empty.xml", "<product><sku name='P'/></product>");
    EXPECT_EQ(run({"-uninstall", base + "/empty.xml", targetFile, "-v"}), 0);
    EXPECT_EQ(out, "summary: 0 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n");
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
    EXPECT_EQ(exitStatus("'" + tool + "' --help >/dev/null"), 0);
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
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[0]);
    RunProgram::Launch program;
    program.command = {INSTALL_UTILITY_PATH, "-uninstall", definition, targetFile, "-v"};
    program.input = RunProgram::Inherited;
    program.output = fds[1];
    const pid_t child = RunProgram::Start(program).pid;
    close(fds[1]);
    ASSERT_GT(child, 0);
    const std::optional<int> waited = RunProgram::WaitForStatus(child, 20);
    ASSERT_TRUE(waited.has_value()) << "the tool did not end within 20 seconds";
    const int status = *waited;
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    // A report that could not be written fails the run.
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(listing(target).empty());
}

// Under a resource limit the tool ends with a status and a message, never by a signal.
TEST_F(InstallUtilityCommandTest, ResourceLimitsEndInAStatusNotASignal)
{
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "<file fileName='an-entry-whose-line-helps-fill-a-kilobyte-" + std::to_string(i) + "'/>";
    // 256 levels: product, installFiles, 253 directories and the file at the bottom.
    std::string deep = "<file fileName='f'/>";
    std::string deepFolder = target;
    for (int level = 0; level < 253; ++level)
        deep = "<directory fileName='d'>" + deep + "</directory>", deepFolder += "/d";
    const struct
    {
        const char* limit;
        std::string entries;
        std::string onDisk;
        int worst; // the highest status allowed; an exit 2 must say why
        std::string message;
    } rows[] = {
        {"ulimit -f 1", many, target + "/an-entry-whose-line-helps-fill-a-kilobyte-7", 1,
         "cannot write the removal report: File too large\n"},
        {"ulimit -s 64", deep, deepFolder + "/f", 2, ""},
    };
    for (const auto& row : rows)
    {
        writeFile(definition, "<product><installFiles>" + row.entries + "</installFiles></product>");
        // The stack's layout varies from run to run: a few runs, for a limit that is near.
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            writeFile(row.onDisk, "x");
            const std::string command = "bash -c \"" + std::string(row.limit) + "; exec '" +
                                        INSTALL_UTILITY_PATH + "' -uninstall '" + definition + "' '" +
                                        targetFile + "' -v >'" + base + "/report' 2>'" + base + "/errors'\"";
            const int status = system(command.c_str());
            const std::string said = readFile(base + "/errors");
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 128) << row.limit << ": ended by a signal";
            EXPECT_LE(WEXITSTATUS(status), row.worst) << row.limit << ": " << said;
            EXPECT_TRUE(row.message.empty() ? WEXITSTATUS(status) < 2 || !said.empty() : said == row.message)
                << row.limit << ": " << said;
            EXPECT_TRUE(WEXITSTATUS(status) == 2 || !exists(row.onDisk)) << row.limit;
        }
    }
}

TEST_F(InstallUtilityCommandTest, AFifoOrDeviceInPlaceOfAFileIsUnreadableAtOnce)
{
    // Opening a FIFO for reading would wait for a writer, and a device would be read forever.
    const std::string fifo = base + "/fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
    const struct
    {
        std::string definition;
        std::string targetFile;
        std::string message;
    } cases[] = {
        {fifo, targetFile, "cannot read the product definition " + fifo + "\n"},
        {definition, fifo, "cannot read the target path from " + fifo + "\n"},
        // Anyone may write to /dev/zero: it is refused before it is read.
        {"/dev/zero", targetFile,
         "refusing to remove: /dev/zero is writable by group or others; the tool, the definition, the target "
         "file and every folder above them must be writable by their owners alone, and belong to root or to "
         "one "
         "user\n"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(runTool({"-uninstall", c.definition, c.targetFile, "-v"}), 2) << c.message;
        EXPECT_EQ(errors, c.message);
        EXPECT_EQ(out, "");
    }
    EXPECT_TRUE(untouched());
}

TEST_F(InstallUtilityCommandTest, NamesArePrintedAsOneEscapedLineEach)
{
    // A name can neither forge a line of its own nor reach the terminal as an escape sequence.
    writeFile(target + "/x\nsummary: 9 removed, 0 kept, 0 missing, 0 failed\x1B[2J", "x");
    writeFile(definition, "<product><installFiles>"
                          "<file fileName='x&#10;summary: 9 removed, 0 kept, 0 missing, 0 failed&#27;[2J'/>"
                          "<file fileName='sub/y&#10;summary: 0 removed'/></installFiles></product>");
    EXPECT_EQ(run({"-uninstall", definition, targetFile, "-v"}), 1);
    EXPECT_EQ(out.substr(0, out.find('\n') + 1),
              "removed " + target + "/x\\nsummary:\\x209 removed, 0 kept, 0 missing, 0 failed\\x1B[2J\n");
    const std::string refused = "\nrefused sub/y\\nsummary:\\x200 removed: ";
    EXPECT_NE(out.find(refused), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
              "summary: 1 removed, 0 kept, 0 missing, 1 failed, 0 ignored\n");

    EXPECT_EQ(run({"-uninstall", base + "/no\nsuch.xml", targetFile}), 2);
    EXPECT_EQ(errors, "cannot read the product definition " + base + "/no\\nsuch.xml\n");
}

// Whose rights a run takes is shown with real users and sudo in RemovalRightsEndToEndTest.

TEST_F(InstallUtilityCommandTest, RunsOnOneTargetTakeTurnsOnALockNobodyElseCanHold)
{
    std::string entries = "<file fileName='a'/><directory fileName='d'><file fileName='b'/></directory>"
                          "<file fileName='App.bundle'/>";
    writeFile(definition, "<product><installFiles>" + entries + "</installFiles></product>");
    const auto install = [&]
    {
        writeFile(target + "/a", "a");
        writeFile(target + "/d/b", "b");
        for (int i = 0; i < 600; ++i)
            writeFile(target + "/App.bundle/Contents/" + std::to_string(i % 20) + "/f" + std::to_string(i),
                      "x");
    };
    FileDescriptor lockFolder;
    TqString lockFolderPath;
    ASSERT_TRUE(RemovalLock::OpenFolder(lockFolder, lockFolderPath).IsDone());
    if (!lockFolder.IsOpen())
        GTEST_SKIP() << "this user has no runtime folder of their own, so runs do not take turns";
    struct stat targetStatus;
    ASSERT_EQ(stat(target.c_str(), &targetStatus), 0);
    const std::string lockName =
        std::to_string(targetStatus.st_dev) + "-" + std::to_string(targetStatus.st_ino);
    const auto holdLock = [&]
    {
        FileDescriptor held(openat(lockFolder.Get(), lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        EXPECT_EQ(flock(held.Get(), LOCK_EX), 0);
        return held;
    };
    const std::string waiting = "waiting for another removal of " + target + "\n";

    // A lock on the target folder itself, which anyone who can read it may take, delays nothing.
    install();
    {
        const FileDescriptor folderLock(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_EQ(flock(folderLock.Get(), LOCK_EX), 0);
        EXPECT_EQ(runTool({"-uninstall", definition, targetFile}), 0) << errors;
        EXPECT_EQ(errors, "");
        EXPECT_TRUE(listing(target).empty());
    }

    // While another run holds the turn, the tool says so once, waits touching nothing, then goes on.
    install();
    {
        FileDescriptor held = holdLock();
        const pid_t second = start({"-uninstall", definition, targetFile});
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_TRUE(untouched());
        EXPECT_TRUE(exists(target + "/App.bundle/Contents/0/f0"));
        held = FileDescriptor();
        EXPECT_EQ(finish(second), 0) << errors;
        EXPECT_EQ(errors, waiting);
        EXPECT_TRUE(listing(target).empty());
    }

    // A signal while waiting ends the run at once, nothing removed.
    install();
    {
        const FileDescriptor held = holdLock();
        const pid_t second = start({"-uninstall", definition, targetFile});
        for (int i = 0; i < 100 && readFile(outputs[second].second) != waiting; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(second, SIGTERM);
        EXPECT_EQ(finish(second), 4);
        EXPECT_EQ(errors, waiting + "cancelled before anything was removed\n");
        EXPECT_TRUE(untouched());

        // A run that waits longer than its limit gives up (here one second, not a minute).
        InstallUtilityCommand::Hooks hooks;
        hooks.lockWaitSeconds = 1;
        const char* argv[] = {"InstallUtility", "-uninstall", definition.c_str(), targetFile.c_str(),
                              nullptr};
        CapturedStream outStream;
        CapturedStream errorStream;
        EXPECT_EQ(InstallUtilityCommand::Run(4, argv, outStream.get(), errorStream.get(), hooks), 2);
        EXPECT_EQ(errorStream.text(), waiting + "another removal of this target is still running\n");
        EXPECT_TRUE(untouched());
    }

    // Two runs started together: one removes, the other then finds everything gone.
    const pid_t first = start({"-uninstall", definition, targetFile});
    const pid_t second = start({"-uninstall", definition, targetFile});
    EXPECT_EQ(finish(first), 0) << errors;
    EXPECT_EQ(finish(second), 0) << errors;
    EXPECT_TRUE(listing(target).empty());
}

TEST_F(InstallUtilityCommandTest, RunningOutOfMemoryWhileReadingExitsTwoWithItsOwnMessage)
{
#ifdef TOOL_UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
    std::string entries;
    for (int i = 0; i < 150000; ++i)
        entries += "<file fileName='an-entry-of-a-large-definition-" + std::to_string(i) + "'/>";
    const std::string large = base + "/large.xml";
    writeFile(large, "<product><installFiles><file fileName='a'/>" + entries + "</installFiles></product>");
    Launch limited;
    limited.addressSpace = 48 << 20;
    EXPECT_EQ(runTool({"-uninstall", large, targetFile, "-v"}, limited), 2);
    EXPECT_EQ(errors, "out of memory while reading the product definition " + large + "\n");
    EXPECT_EQ(out, "");
    EXPECT_TRUE(untouched());
#endif
}

TEST_F(InstallUtilityCommandTest, ARemovalThatHasBegunRunsToItsEndWhateverSignalArrives)
{
    std::filesystem::remove_all(target + "/a");
    std::filesystem::remove_all(target + "/d");
    std::string entries;
    for (int i = 0; i < 1000; ++i)
    {
        const std::string name = "a-name-long-enough-that-the-lines-written-for-a-thousand-such-entries-fill-"
                                 "the-pipe-" +
                                 std::to_string(i);
        entries += "<file fileName='" + name + "'/>";
        writeFile(target + "/" + name, "x");
    }
    writeFile(definition, "<product><installFiles>" + entries + "</installFiles></product>");

    // The first line on the pipe says the removal has begun; the tool then waits on the full
    // pipe, mid-removal, until the lines are read.
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const pid_t child = start({"-uninstall", definition, targetFile, "-v"}, Launch(), fds[1]);
    close(fds[1]);
    std::string lines;
    char buffer[4096];
    ssize_t got;
    while (lines.find('\n') == std::string::npos && (got = read(fds[0], buffer, sizeof buffer)) > 0)
        lines.append(buffer, static_cast<size_t>(got));
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
        kill(child, signalNumber);
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        lines.append(buffer, static_cast<size_t>(got));
    close(fds[0]);

    EXPECT_EQ(finish(child), 0) << errors;
    EXPECT_TRUE(listing(target).empty());
    EXPECT_NE(lines.find("summary: 1000 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n"),
              std::string::npos);
}
