#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/file.h>
#include <thread>

#include "FileDescriptor.h"
#include "InstallUtilityCommand.h"
#include "RemovalFixture.h"
#include "RemovalLock.h"
#include "RunProgram.h"
#include "Sha256.h"

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
        writeDefinition("<file fileName='a'/><directory fileName='d'><file fileName='b'/></directory>");
        writeFile(targetFile, "<targetPath path='" + target + "'/>");
        writeFile(target + "/a", "a");
        writeFile(target + "/d/b", "b");
    }

    void writeDefinition(const std::string& entries)
    {
        writeFile(definition,
                  "<product><sku name='P'/><installFiles>" + entries + "</installFiles></product>");
    }

    // Entries for files stem-0, stem-1, ...; the files are made below the target when asked.
    std::string entries(int count, const std::string& stem, bool made = false)
    {
        std::string text;
        for (int i = 0; i < count; ++i)
        {
            text += "<file fileName='" + stem + "-" + std::to_string(i) + "'/>";
            if (made)
                writeFile(target + "/" + stem + "-" + std::to_string(i), "x");
        }
        return text;
    }

    bool untouched() { return exists(target + "/a") && exists(target + "/d/b"); }

    // Starts the real program: standard output to outFd, or to a file when it is -1; standard error
    // to a file; finish reads both.
    pid_t start(const std::vector<std::string>& arguments, int outFd = -1,
                rlim_t addressSpace = RLIM_INFINITY)
    {
        const std::string stem = base + "/run" + std::to_string(outputs.size());
        const FileDescriptor outFile(
            open((stem + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        const FileDescriptor errorFile(
            open((stem + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        RunProgram::Launch program;
        program.command = {INSTALL_UTILITY_PATH};
        program.command.insert(program.command.end(), arguments.begin(), arguments.end());
        program.addressSpace = addressSpace;
        program.input = RunProgram::Inherited;
        program.output = outFd >= 0 ? outFd : outFile.Get();
        program.errors = errorFile.Get();
        const pid_t child = RunProgram::Start(program).pid;
        outputs[child] = stem;
        return child;
    }

    // Waits for a started program, at most a while (a hang fails rather than blocks the suite);
    // its exit status, or -1 when it was ended by a signal or killed here for taking too long.
    int finish(pid_t child)
    {
        const std::optional<int> status = RunProgram::WaitForStatus(child, 20);
        if (!status)
            ADD_FAILURE() << "the tool did not end within 20 seconds";
        out = readFile(outputs[child] + ".out");
        errors = readFile(outputs[child] + ".err");
        if (status && WIFSIGNALED(*status))
            ADD_FAILURE() << "the tool was ended by signal " << WTERMSIG(*status);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    int runTool(const std::vector<std::string>& arguments, rlim_t addressSpace = RLIM_INFINITY)
    {
        return finish(start(arguments, -1, addressSpace));
    }

    std::string definition;
    std::string targetFile;
    std::string out;
    std::string errors;
    std::map<pid_t, std::string> outputs;
};

} // namespace

// Through the real program, so that an input that hangs or crashes the reader fails rather than blocks.
TEST_F(InstallUtilityCommandTest, HelpPrintsTheUsageAndBadCommandLinesOrUnreadableInputsExitTwoAtOnce)
{
    const std::string usage = InstallUtilityCommand::usage;
    EXPECT_EQ(usage.rfind("usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n] [-json] [-sha256 DIGEST]\n", 0), 0u);
    EXPECT_EQ(runTool({"--help"}), 0);
    EXPECT_EQ(out, usage);
    EXPECT_EQ(errors, "");

    const std::string& d = definition;
    const std::string& t = targetFile;
    const auto in = [](const std::string& givenDefinition, const std::string& givenTargetFile) {
        return std::vector<std::string>{"-uninstall", givenDefinition, givenTargetFile, "-v"};
    };
    const auto file = [&](const std::string& name, const std::string& text)
    {
        writeFile(base + "/" + name, text);
        return base + "/" + name;
    };
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<d>";
    const std::string fifo = base + "/fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
    const std::string noDefinition = "cannot read the product definition ";
    const std::string noTarget = "cannot read the target path from ";
    const struct
    {
        std::vector<std::string> arguments;
        std::string message; // empty: any line that says why
    } rows[] = {
        {{}, usage},
        {{"-uninstall"}, usage},
        {{"-uninstall", d}, usage},
        {{"-uninstall", "", t}, usage},
        {{"-uninstall", d, ""}, usage},
        {{"-uninstall", d, t, "-q"}, usage},
        {{"-uninstall", d, t, "-vn"}, usage},
        {{"-uninstall", d, t, "--help"}, usage},
        {{"-remove", d, t}, usage},
        {{d, t, "-uninstall"}, usage},
        {{"--help", "-v"}, usage},
        {in(base + "/absent.xml", t), noDefinition + base + "/absent.xml\n"},
        {in(d, base + "/absent.xml"), noTarget + base + "/absent.xml\n"},
        {in(file("broken.xml", "<product><installFiles><file fileName='a'/>"), t), ""},
        // One root element and nothing after it: a second document glued on is not read in part.
        {in(file("tworoots.xml", "<product><installFiles/></product><product/>"), t), ""},
        {in(d, file("tail.xml", "<targetPath path='" + target + "'/>stray<targetPath path='/'/>")),
         noTarget + base + "/tail.xml\n"},
        {in(file("other.xml", "<catalog><installFiles><file fileName='a'/></installFiles></catalog>"), t),
         ""},
        {in(base, t), ""},
        // Nesting deep enough to exhaust the parser's stack is refused before parsing, in both files.
        {in(file("deep.xml",
                 "<product><installFiles><file fileName='a'/></installFiles>" + deep + "</product>"),
            t),
         ""},
        {in(d, file("deeptarget.xml", "<targetPath path='" + target + "'>" + deep + "</targetPath>")), ""},
        {in(d, file("relative.xml", "<targetPath path='target'/>")), ""},
        {in(d, file("file.xml", "<targetPath path='" + target + "/a'/>")), ""},
        // Opening a FIFO for reading would wait for a writer, and a device would be read forever.
        {in(fifo, t), noDefinition + fifo + "\n"},
        {in(d, fifo), noTarget + fifo + "\n"},
        // Anyone may write to /dev/zero: it is refused before it is read.
        {in("/dev/zero", t),
         "refusing to remove: /dev/zero is writable by group or others; the tool, the definition, the target "
         "file and every folder above them must be writable by their owners alone, and belong to root or to "
         "one user\n"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(row.arguments));
        EXPECT_EQ(runTool(row.arguments), 2);
        EXPECT_EQ(out, "");
        if (row.message.empty())
            EXPECT_NE(errors, "");
        else
            EXPECT_EQ(errors, row.message);
    }
    EXPECT_TRUE(untouched());
}

TEST_F(InstallUtilityCommandTest, RunsTheRemoval)
{
    // A dry run lists what it would do, with -v or without, the options in either order.
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-n"}, {"-n", "-v"}, {"-v", "-n"}})
    {
        std::vector<std::string> arguments = {"-uninstall", definition, targetFile};
        arguments.insert(arguments.end(), options.begin(), options.end());
        EXPECT_EQ(runTool(arguments), 0);
        EXPECT_EQ(out, "would remove " + target + "/a\nwould remove " + target + "/d/b\nwould remove " +
                           target + "/d\nsummary: 3 would be removed, 0 kept, 0 missing, 0 would fail, 0 "
                           "failed, 0 would be ignored\n");
        EXPECT_TRUE(untouched());
    }

    EXPECT_EQ(runTool({"-uninstall", definition, targetFile}), 0);
    EXPECT_EQ(out + errors, "");
    EXPECT_TRUE(listing(target).empty());
}

// What the tool will not act on, each with the one line that says why and nothing removed; the
// unknown names it passes over are said once each and the run goes on.
TEST_F(InstallUtilityCommandTest, RefusesADefinitionItCannotActOnAsItsAuthorMeantIt)
{
    const std::string nothing = "refusing to remove: the definition lists nothing to remove ";
    const std::string entries =
        "<file fileName='a'/><directory fileName='d'><file fileName='b'/></directory>";
    const struct
    {
        const char* name;
        std::string definition; // inside <product>
        int status;
        std::string errors;
    } rows[] = {
        {"no installFiles", "<sku name='P'/>", 2, nothing + "(no installFiles element)\n"},
        {"an empty installFiles", "<installFiles>\n</installFiles>", 2,
         nothing + "(an empty installFiles element)\n"},
        {"installFiles with only unknown elements", "<installFiles><note/></installFiles>", 2,
         nothing + "(an empty installFiles element)\n"},
        {"installFiles in another case", "\n<installfiles>" + entries + "</installfiles>", 2,
         "refusing to remove: line 2: unknown element <installfiles>; the known one is spelt "
         "<installFiles>\n"},
        {"a directory in another case",
         "<installFiles>\n<file fileName='a'/>\n<Directory fileName='d'/></installFiles>", 2,
         "refusing to remove: line 3: unknown element <Directory>; the known one is spelt <directory>\n"},
        {"a shortcut in another case",
         "<installFiles><file fileName='a'><shortcut name='a'/></file></installFiles>", 2,
         "refusing to remove: line 1: unknown element <shortcut>; the known one is spelt <shortCut>\n"},
        {"an attribute in another case",
         "<installFiles><directory fileName='d'\n dontDelete='1'><file "
         "fileName='b'/></directory></installFiles>",
         2,
         "refusing to remove: line 2: unknown attribute dontDelete= on <directory>; the known one is spelt "
         "dontdelete=\n"},
        {"a flag that is neither 0 nor 1",
         "<installFiles>" + entries + "<directory fileName='d' dontdelete='true'/></installFiles>", 2,
         "refusing to remove: line 1: dontdelete=\"true\" on <directory> is neither \"0\" nor \"1\"\n"},
        {"an empty flag", "<installFiles><file fileName='a' ignoreinstallerrors=''/></installFiles>", 2,
         "refusing to remove: line 1: ignoreinstallerrors=\"\" on <file> is neither \"0\" nor \"1\"\n"},
        {"unknown names, said once each",
         "<installFiles>\n<file fileName='a' size='1'/><note/>\n<directory fileName='d' size='2'><file "
         "fileName='b'/><note/><file fileName='b'><file fileName='c'/></file></directory></installFiles>",
         0,
         "line 2: unknown attribute size= on <file>, ignored\n"
         "line 2: unknown element <note> in <installFiles>, ignored\n"
         "line 3: unknown element <file> in <file>, ignored\n"},
        // Something of the same name as a shortcut that is not the product's link says nothing.
        {"nothing listed is there",
         "<sku name='P'/><installFiles><directory fileName='x'><file fileName='y'/></directory>"
         "<file fileName='z'><shortCut name='a'/></file></installFiles>",
         3, "nothing of P was found in " + target + "\n"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        writeFile(target + "/a", "a");
        writeFile(target + "/d/b", "b");
        writeFile(definition, "<product>" + row.definition + "</product>");
        EXPECT_EQ(runTool({"-uninstall", definition, targetFile}), row.status);
        EXPECT_EQ(errors, row.errors);
        EXPECT_EQ(untouched(), row.status != 0);
    }
    // A dry run tells the same.
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-n"}), 3);
    EXPECT_EQ(errors, "nothing of P was found in " + target + "\n");

    // The definition a person confirmed, by its digest, and no other: one changed since is refused.
    const std::string confirmed = "<product><sku name='P'/><installFiles>" + entries + "</installFiles></product>";
    const std::string digest = Sha256::Of(confirmed.data(), confirmed.size());
    writeFile(definition, "<product><sku name='Other'/><installFiles>" + entries + "</installFiles></product>");
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-sha256", digest}), 2);
    EXPECT_EQ(errors, "refusing to remove: the product definition " + definition +
                          " is not the one that was confirmed (it changed after the confirmation)\n");
    EXPECT_TRUE(untouched());
    writeFile(definition, confirmed);
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-sha256", digest}), 0) << errors;
}

// Under a resource limit the tool ends with a status and a message, never by a signal; a report it
// cannot write fails the run, which still removes to its end.
TEST_F(InstallUtilityCommandTest, ResourceLimitsEndInAStatusNotASignal)
{
    // Only the last entry is on disk, to show that the removal went on after the report stopped.
    const std::string many = entries(100, "an-entry-whose-line-helps-fill-a-kilobyte");
    const std::string last = target + "/an-entry-whose-line-helps-fill-a-kilobyte-99";
    // 256 levels: product, installFiles, 253 directories and the file at the bottom.
    std::string deep = "<file fileName='f'/>";
    std::string deepFolder = target;
    for (int level = 0; level < 253; ++level)
        deep = "<directory fileName='d'>" + deep + "</directory>", deepFolder += "/d";
    const struct
    {
        const char *before, *output;
        std::string entries, onDisk;
        int worst; // the highest status allowed; an exit 2 must say why
        std::string message;
    } rows[] = {
        {"ulimit -f 1; exec", ">report", many, last, 1, "cannot write the removal report: File too large\n"},
        {"ulimit -s 64; exec", ">/dev/null", deep, deepFolder + "/f", 2, ""},
    };
    for (const auto& row : rows)
    {
        writeDefinition(row.entries);
        // The stack's layout varies from run to run: a few runs, for a limit that is near.
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            writeFile(row.onDisk, "x");
            const std::string command = "cd '" + base + "' && bash -c \"" + row.before + " '" +
                                        INSTALL_UTILITY_PATH + "' -uninstall '" + definition + "' '" +
                                        targetFile + "' -v 2>errors " + row.output + "\"";
            const int status = system(command.c_str());
            const std::string said = readFile(base + "/errors");
            SCOPED_TRACE(std::string(row.before) + ": " + said);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 128) << "ended by a signal";
            EXPECT_LE(WEXITSTATUS(status), row.worst);
            EXPECT_TRUE(row.message.empty() ? WEXITSTATUS(status) < 2 || !said.empty() : said == row.message);
            EXPECT_TRUE(WEXITSTATUS(status) == 2 || !exists(row.onDisk));
        }
    }
}

TEST_F(InstallUtilityCommandTest, NamesArePrintedAsOneEscapedLineEach)
{
    // A name can neither forge a line of its own nor reach the terminal as an escape sequence.
    writeFile(target + "/x\nsummary: 9 removed, 0 kept, 0 missing, 0 failed\x1B[2J", "x");
    writeDefinition("<file fileName='x&#10;summary: 9 removed, 0 kept, 0 missing, 0 failed&#27;[2J'/>"
                    "<file fileName='sub/y&#10;summary: 0 removed'/>");
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-v"}), 1);
    EXPECT_EQ(out.substr(0, out.find('\n') + 1),
              "removed " + target + "/x\\nsummary:\\x209 removed, 0 kept, 0 missing, 0 failed\\x1B[2J\n");
    EXPECT_NE(out.find("\nrefused sub/y\\nsummary:\\x200 removed: "), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
              "summary: 1 removed, 0 kept, 0 missing, 1 failed, 0 ignored\n");

    EXPECT_EQ(runTool({"-uninstall", base + "/no\nsuch.xml", targetFile}), 2);
    EXPECT_EQ(errors, "cannot read the product definition " + base + "/no\\nsuch.xml\n");
}

// Whose rights a run takes is shown with real users and sudo in RemovalRightsEndToEndTest.

TEST_F(InstallUtilityCommandTest, RunsOnOneTargetTakeTurnsOnALockNobodyElseCanHold)
{
    writeDefinition("<file fileName='a'/><directory fileName='d'><file fileName='b'/></directory>"
                    "<file fileName='App.bundle'/>");
    const auto install = [&]
    {
        writeFile(target + "/a", "a");
        writeFile(target + "/d/b", "b");
        for (int i = 0; i < 600; ++i)
            writeFile(target + "/App.bundle/Contents/" + std::to_string(i % 20) + "/f" + std::to_string(i),
                      "x");
    };
    Result<RemovalLock::Folder> opened = RemovalLock::OpenFolder();
    ASSERT_TRUE(opened.IsDone()) << opened.GetStatus().Text().ConstData();
    const FileDescriptor lockFolder = std::move(opened.Value().fd);
    if (!lockFolder.IsOpen())
        GTEST_SKIP() << "this user has no runtime folder of their own, so runs do not take turns";
    struct stat targetStatus;
    ASSERT_EQ(stat(target.c_str(), &targetStatus), 0);
    const std::string lockName =
        std::to_string(targetStatus.st_dev) + "-" + std::to_string(targetStatus.st_ino);
    const auto holdLock = [&]
    {
        FileDescriptor held(openat(lockFolder.Get(), lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        // Shared, as another run that took the turn wrongly would: the tool must still wait.
        EXPECT_EQ(flock(held.Get(), LOCK_SH), 0);
        return held;
    };
    const std::string waiting = "waiting for another removal of " + target + "\n";

    // While another run holds the turn, the tool says so once, waits touching nothing, then goes on.
    install();
    {
        FileDescriptor held = holdLock();
        const pid_t second = start({"-uninstall", definition, targetFile});
        // Once it says it waits, it has met the lock: nothing may have gone by then.
        EXPECT_TRUE(RunProgram::WaitUntil([&] { return readFile(outputs[second] + ".err") == waiting; }, 10));
        EXPECT_TRUE(untouched());
        held = FileDescriptor();
        EXPECT_EQ(finish(second), 0) << errors;
        EXPECT_EQ(errors, waiting);
        EXPECT_TRUE(listing(target).empty());
    }

    // A signal while waiting ends the run at once, nothing removed; so does waiting past the limit
    // (here one second, not a minute).
    install();
    {
        const FileDescriptor held = holdLock();
        const pid_t second = start({"-uninstall", definition, targetFile});
        EXPECT_TRUE(RunProgram::WaitUntil([&] { return readFile(outputs[second] + ".err") == waiting; }, 10));
        kill(second, SIGTERM);
        EXPECT_EQ(finish(second), 4);
        EXPECT_EQ(errors, waiting + "cancelled before anything was removed\n");
        EXPECT_TRUE(untouched());

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

    // Two runs started together: one removes, the other then finds nothing of the product (3),
    // whichever came first. A lock on the target folder itself, which anyone who can read it may
    // take, delays neither.
    const FileDescriptor folderLock(open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(flock(folderLock.Get(), LOCK_EX), 0);
    const pid_t first = start({"-uninstall", definition, targetFile});
    const pid_t second = start({"-uninstall", definition, targetFile});
    const int firstStatus = finish(first);
    EXPECT_EQ(firstStatus + finish(second), 3) << errors;
    EXPECT_TRUE(firstStatus == 0 || firstStatus == 3);
    EXPECT_TRUE(listing(target).empty());
}

TEST_F(InstallUtilityCommandTest, RunningOutOfMemoryWhileReadingExitsTwoWithItsOwnMessage)
{
#if defined(__SANITIZE_ADDRESS__) // the sanitized build is made with GCC, which defines it
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#else
    writeDefinition("<file fileName='a'/>" + entries(150000, "an-entry-of-a-large-definition"));
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-v"}, 48 << 20), 2);
    EXPECT_EQ(errors, "out of memory while reading the product definition " + definition + "\n");
    EXPECT_EQ(out, "");
    EXPECT_TRUE(untouched());
#endif
}

// Neither a signal nor a reader that goes away stops a removal that has begun: it runs to its end,
// and the report it could not finish fails the run.
TEST_F(InstallUtilityCommandTest, ARemovalThatHasBegunStopsWhenAskedAndRunsToItsEndWhateverElseArrives)
{
    std::filesystem::remove_all(target + "/a");
    std::filesystem::remove_all(target + "/d");
    const std::string stem = "a-name-long-enough-that-the-lines-for-a-thousand-such-entries-fill-the-pipe";
    for (const int stopSignal : {0, SIGTERM, SIGINT, SIGHUP, SIGQUIT})
    {
        SCOPED_TRACE(stopSignal == 0 ? "no stop" : strsignal(stopSignal));
        writeDefinition(entries(1000, stem, true));
        // The first line on the pipe says the removal has begun; the tool then waits on the full
        // pipe, mid-removal.
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        const pid_t child = start({"-uninstall", definition, targetFile, "-v"}, fds[1]);
        close(fds[1]);
        char buffer[4096];
        ssize_t got = read(fds[0], buffer, sizeof buffer);
        EXPECT_GT(got, 0);
        for (const int signalNumber : {SIGTSTP, SIGUSR1, SIGALRM, stopSignal})
            if (signalNumber != 0)
                kill(child, signalNumber);
        if (stopSignal == 0)
        {
            // The reader goes: the removal runs to its end all the same.
            close(fds[0]);
            EXPECT_EQ(finish(child), 1);
            EXPECT_EQ(errors, "cannot write the removal report: Broken pipe\n");
            EXPECT_TRUE(listing(target).empty());
            continue;
        }
        std::string report;
        for (; got > 0; got = read(fds[0], buffer, sizeof buffer))
            report.append(buffer, static_cast<size_t>(got));
        close(fds[0]);
        // The walk stops between entries (what it then reports is the remover's own test).
        EXPECT_EQ(finish(child), 4);
        EXPECT_NE(report.find(": the removal was cancelled\n"), std::string::npos);
        EXPECT_FALSE(listing(target).empty());
        std::filesystem::remove_all(target);
        makeDirectory(target);
    }
}

// A fleet asks before it acts and reads what changed: -check answers by its status, as one line or
// one JSON object, changing nothing; -json gives one object per entry and a closing object whose
// "changed" tells a removal from a run that found nothing left to remove.
TEST_F(InstallUtilityCommandTest, TheCheckAndTheJsonResultSayWhatIsThereAndWhatChanged)
{
    EXPECT_EQ(runTool({"-check", definition, targetFile}), InstallUtilityCommand::installed);
    EXPECT_EQ(out, "installed: 3 of 3 listed entries of P are in " + target + "\n");
    EXPECT_TRUE(untouched());

    std::filesystem::remove(target + "/a");
    EXPECT_EQ(runTool({"-check", definition, targetFile, "-json"}), InstallUtilityCommand::partlyInstalled);
    const nlohmann::json check = nlohmann::json::parse(out);
    EXPECT_EQ(check["check"], "partly installed");
    EXPECT_EQ(check["present"], 2);
    EXPECT_EQ(check["listed"], 3);
    EXPECT_EQ(check["status"], InstallUtilityCommand::partlyInstalled);

    for (const bool changed : {true, false})
    {
        SCOPED_TRACE(changed ? "first run" : "second run");
        // The second run finds nothing of the product left: its own status.
        const int status = changed ? 0 : 3;
        EXPECT_EQ(runTool({"-uninstall", definition, targetFile, "-json"}), status);
        std::vector<nlohmann::json> lines;
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);)
            lines.push_back(nlohmann::json::parse(line));
        ASSERT_EQ(lines.size(), 4u) << out;
        EXPECT_EQ(lines[0].dump(), "{\"kind\":\"missing\",\"path\":\"" + target + "/a\"}");
        EXPECT_EQ(lines[1].dump(), changed ? "{\"kind\":\"removed\",\"path\":\"" + target + "/d/b\"}"
                                           : "{\"kind\":\"missing\",\"path\":\"" + target + "/d\"}");
        const nlohmann::json& closing = lines.back();
        EXPECT_EQ(closing["product"]["name"], "P");
        EXPECT_EQ(closing["target"], target);
        EXPECT_EQ(closing["summary"]["removed"], changed ? 2 : 0);
        EXPECT_EQ(closing["summary"]["missing"], changed ? 1 : 3);
        EXPECT_EQ(closing["changed"], changed);
        EXPECT_EQ(closing["status"], status);
    }
    EXPECT_EQ(runTool({"-check", definition, targetFile}), InstallUtilityCommand::notInstalled);
    EXPECT_EQ(out, "not installed: 0 of 3 listed entries of P are in " + target + "\n");

    // A target folder that is not there at all holds nothing of the product either.
    std::filesystem::remove_all(target);
    EXPECT_EQ(runTool({"-uninstall", definition, targetFile}), 3);
    EXPECT_EQ(errors, "nothing of P was found in " + target + "\n");
    EXPECT_EQ(runTool({"-check", definition, targetFile}), InstallUtilityCommand::notInstalled);
}
