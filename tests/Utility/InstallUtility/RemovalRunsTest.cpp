// Real runs of the built tool in a private mount namespace whose /dev is a tmpfs holding only the
// test's socket at /dev/log: what the dry run foresees against what the real run meets, and the
// record each run leaves in the system log, or fails to leave in one that takes nothing.
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>

#include "FileDescriptor.h"
#include "RemovalFixture.h"
#include "RemovalLine.h"
#include "RunProgram.h"

namespace
{

const uid_t user = 4242;

class RemovalRunsTest : public RemovalFixture
{
protected:
    void SetUp() override
    {
        RemovalFixture::SetUp();
        std::string reason;
        if (geteuid() != 0 || !enterPrivateMountNamespace(reason) || !mountTmpfs("/dev", reason))
            GTEST_SKIP() << "needs root, another uid and a private mount namespace: " << reason;
        ASSERT_EQ(bind(systemLog.Get(), logAddress(), sizeof(sockaddr_un)), 0);
        ASSERT_EQ(chmod("/dev/log", 0666), 0);
        ASSERT_EQ(chmod(base.c_str(), 0755), 0); // the user reaches the files
        definition = base + "/sku.xml";
    }

    struct Run
    {
        int status;
        std::vector<std::string> failures; // "PATH: REASON" of each failed or would-fail line
        std::string record;                // the datagrams /dev/log received, one line each
        std::string text;                  // standard output and error as they came
    };

    Run run(const std::string& targetName, const std::string& option, bool asUser = false,
            std::map<std::string, const char*> environment = {})
    {
        RunProgram::Launch launch;
        launch.command = {INSTALL_UTILITY_PATH, "-uninstall", definition, base + "/" + targetName + ".xml",
                          option};
        environment.insert({{"SUDO_UID", nullptr}, {"PKEXEC_UID", nullptr}});
        launch.environment = RunProgram::EnvironmentWith(environment);
        launch.user = asUser ? user : static_cast<uid_t>(-1);
        launch.input = RunProgram::Inherited; // no /dev/null here
        launch.output = launch.errors = RunProgram::Captured;
        const RunProgram::Outcome outcome = RunProgram::Run(launch, 20);
        Run result{outcome.status, {}, {}, outcome.text};
        std::istringstream lines(outcome.text);
        for (std::string line; std::getline(lines, line);)
        {
            const RemovalLine parsed = ParseRemovalLine(TqString(line.c_str()));
            if (IsFailureLine(parsed.kind) || parsed.kind == RemovalLineKind::WouldFail)
                result.failures.push_back(std::string(parsed.subject.ConstData()) + ": " +
                                          parsed.reason.ConstData());
        }
        char datagram[8192];
        ssize_t size;
        while ((size = recv(systemLog.Get(), datagram, sizeof datagram, MSG_DONTWAIT)) > 0)
            result.record.append(datagram, static_cast<size_t>(size)) += '\n';
        return result;
    }

    static const sockaddr* logAddress()
    {
        static sockaddr_un address = {AF_UNIX, "/dev/log"};
        return reinterpret_cast<const sockaddr*>(&address);
    }

    const FileDescriptor systemLog{socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    std::string definition;
};

} // namespace

TEST_F(RemovalRunsTest, TheDryRunForeseesTheRealRunsFailuresLineForLine)
{
    writeFile(definition,
              "<product><installFiles><directory fileName='ro'><file fileName='f'/></directory>"
              "<directory fileName='sticky'><file fileName='other'/><file fileName='mine'/></directory>"
              "<directory fileName='ownsticky'><file fileName='other'/></directory>"
              "<file fileName='B.app'/><file fileName='imm'/><file fileName='plain'/>"
              "</installFiles></product>");
    const std::string denied = ": Permission denied", notPermitted = ": Operation not permitted";
    const std::string readOnly = ": Read-only file system: the file system it is on is mounted read-only";
    // Each failure says what stands in the way, in words that say what to do about it.
    const std::string closedFolder =
        denied + ": its folder, owned by uid 4242, does not let uid 4242 change it";
    const std::string othersInSticky =
        notPermitted +
        ": it belongs to uid 4243 in a sticky folder owned by root, where only they or root may remove it";
    const std::string flagged = notPermitted + ": it has the immutable flag, which chattr -i clears";
    // Layouts: 'f' folders (one no one may write, a root's sticky one with another user's file, the
    // user's own sticky one with another user's file, a bundle with one no one may write inside), 'i' an immutable file, 'r' a read-only mount; the rest
    // is the user's. Root passes mode bits and sticky folders; a user meets them; neither passes the others.
    const struct
    {
        bool asUser;
        char layout;
        std::vector<std::string> expected; // below the target, sorted
    } rows[] = {
        {false, 'f', {}},
        {true, 'f', {"B.app: Contents/x" + denied, "ro/f" + closedFolder, "sticky/other" + othersInSticky}},
        {false, 'i', {"imm" + flagged}},
        {true, 'i', {"imm" + flagged}},
        // Refused before the name is looked up: entries that are not there fail all the same.
        {false, 'r', {"B.app" + readOnly, "imm" + readOnly, "plain" + readOnly}},
    };
    for (size_t index = 0; index < std::size(rows); ++index)
    {
        const auto& row = rows[index];
        SCOPED_TRACE(std::string("layout ") + row.layout + (row.asUser ? ", as a user" : ", as root"));
        const std::string name = "t" + std::to_string(index), folder = base + "/" + name;
        writeFile(folder + ".xml", "<targetPath path='" + folder + "'/>");
        writeFile(folder + "/plain", "p");
        if (row.layout == 'f')
            for (const char* file : {"ro/f", "sticky/other", "sticky/mine", "ownsticky/other", "B.app/Contents/x"})
                writeFile(folder + "/" + file, "x");
        if (row.layout == 'i')
            writeFile(folder + "/imm", "i");
        ASSERT_EQ(std::system(
                      ("chown -hR " + std::to_string(user) + ":" + std::to_string(user) + " '" + folder + "'")
                          .c_str()),
                  0);
        if (row.layout == 'f')
        {
            lchown((folder + "/sticky").c_str(), 0, 0);
            lchown((folder + "/sticky/other").c_str(), user + 1, user + 1);
            chmod((folder + "/sticky").c_str(), 01777);
            lchown((folder + "/ownsticky/other").c_str(), user + 1, user + 1);
            chmod((folder + "/ownsticky").c_str(), 01777);
            chmod((folder + "/ro").c_str(), 0555);
            chmod((folder + "/B.app/Contents").c_str(), 0555);
        }
        std::string reason;
        if ((row.layout == 'i' && !makeImmutable(folder + "/imm", reason)) ||
            (row.layout == 'r' &&
             (!bindMount(folder, folder, reason) ||
              mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr))))
        {
            std::cout << "[ SKIPPED ROW ] " << row.layout << ": " << reason << strerror(errno) << "\n";
            continue;
        }
        const std::vector<std::string> before = snapshot(folder);
        const Run foreseen = run(name, "-n", row.asUser);
        EXPECT_EQ(snapshot(folder), before) << "the dry run changed the tree";
        const Run met = run(name, "-v", row.asUser);

        EXPECT_EQ(foreseen.failures, met.failures);
        EXPECT_EQ(foreseen.status, met.status);
        std::vector<std::string> metBelow;
        for (const std::string& failure : met.failures)
            metBelow.push_back(failure.substr(folder.size() + 1));
        std::sort(metBelow.begin(), metBelow.end());
        EXPECT_EQ(metBelow, row.expected);
        EXPECT_EQ(met.status, row.expected.empty() ? 0 : 1);
    }
}

// A user's dry run of root's installation says once, before the list, why each entry would fail;
// a folder the user may change raises nothing of the sort.
TEST_F(RemovalRunsTest, AUsersDryRunOfRootsInstallationSaysFirstThatItNeedsAdministratorRights)
{
    writeFile(definition, "<product><installFiles><directory fileName='d'><file fileName='a'/></directory>"
                          "<file fileName='b' ignoreinstallerrors='1'/></installFiles></product>");
    const std::string folder = base + "/root";
    writeFile(base + "/root.xml", "<targetPath path='" + folder + "'/>");
    writeFile(folder + "/d/a", "a");
    writeFile(folder + "/b", "b");
    const std::string first = "the removal needs administrator rights: root's folder ";
    const std::string rest = " is closed to uid " + std::to_string(user) +
                             ", so what follows is what a removal with this user's rights would meet\n";
    const std::string closed =
        ": Permission denied: its folder, owned by root, does not let uid 4242 change it";
    EXPECT_EQ(
        run("root", "-n", true).text,
        first + folder + rest + "would be ignored " + folder + "/b" + closed + "\nwould fail " + folder +
            "/d/a" + closed + "\nwould fail " + folder + "/d" + closed +
            "\nsummary: 0 would be removed, 0 kept, 0 missing, 2 would fail, 0 failed, 1 would be ignored\n");
    // The target the user may change, a listed folder of root's inside it: that folder is named.
    ASSERT_EQ(chown(folder.c_str(), user, user), 0);
    EXPECT_EQ(run("root", "-n", true).text.substr(0, first.size() + folder.size() + 2 + rest.size()),
              first + folder + "/d" + rest);
    EXPECT_EQ(run("root", "-n").text.find(first), std::string::npos) << "root needs no more rights";
}

TEST_F(RemovalRunsTest, EachRunLeavesOneRecordOfWhoWhatWhereAndHowItEnded)
{
    // The product's name holds quotes and a line break: the record stays one line.
    writeFile(definition,
              "<product><sku ID='tq.demo' build='4.2 \"beta\"' name='Tq &quot;Demo&quot;&#10;Two'/>"
              "<installFiles><file fileName='a'/>"
              "<file fileName='gone'/><directory fileName='d'><file fileName='b'/></directory>"
              "</installFiles></product>");
    writeFile(base + "/target.xml", "<targetPath path='" + target + "'/>");
    writeFile(target + "/a", "a");
    writeFile(target + "/d/b", "b");
    writeFile(target + "/d/unlisted", "u");
    const std::string product =
        "removal of \"Tq \\\"Demo\\\"\\nTwo\" (ID \"tq.demo\", build \"4.2 \\\"beta\\\"\")";
    const std::string removal = product + " from " + target + " asked by root uid 0";
    const struct
    {
        const char *option, *sudoUid, *targetName;
        std::string priorityAndMessage; // facility user: 13 notice, 12 warning
    } runs[] = {
        {"-n", nullptr, "target",
         "13 dry run: " + removal +
             ": 2 would be removed, 1 kept, 1 missing, 0 would fail, 0 failed, 0 would be ignored; exit "
             "status 0"},
        // Root started through sudo: the caller is who asked.
        {"-v", "4242", "target",
         "13 " + product + " from " + target +
             " asked by uid 4242 through sudo: 2 removed, 1 kept, 1 missing, 0 failed, 0 ignored; exit "
             "status "
             "0"},
        {"-v", nullptr, "none",
         "12 removal asked by root uid 0: refused: cannot read the target path from " + base +
             "/none.xml; exit status 2"},
        {"-x", nullptr, "target",
         "12 removal asked by root uid 0: refused: a command line it does not know; exit status 2"},
    };
    for (const auto& r : runs)
    {
        // As the C library sends it: <PRIORITY>TIMESTAMP IDENT[PID]: MESSAGE, one per run.
        const std::string record = run(r.targetName, r.option, false, {{"SUDO_UID", r.sudoUid}}).record;
        std::smatch parts;
        ASSERT_TRUE(
            std::regex_match(record, parts, std::regex("<(\\d+)>.{15} InstallUtility\\[\\d+\\]: ([^\n]*)\n")))
            << record;
        EXPECT_EQ(parts[1].str() + " " + parts[2].str(), r.priorityAndMessage);
    }
}

TEST_F(RemovalRunsTest, ALogThatTakesNothingNeitherHoldsUpNorChangesTheRun)
{
    writeFile(definition, "<product><installFiles><file fileName='a'/></installFiles></product>");
    writeFile(base + "/target.xml", "<targetPath path='" + target + "'/>");
    // A stopped daemon's datagram socket: its queue filled from a socket with room enough to fill it.
    const FileDescriptor filler(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int room = 1 << 24;
    ASSERT_EQ(setsockopt(filler.Get(), SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room), 0) << strerror(errno);
    while (sendto(filler.Get(), "x", 1, MSG_DONTWAIT, logAddress(), sizeof(sockaddr_un)) == 1)
    {
    }
    ASSERT_EQ(errno, EAGAIN) << strerror(errno);
    const FileDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const FileDescriptor waiting(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    for (const bool stream : {false, true})
    {
        SCOPED_TRACE(stream ? "a stream listener with a full backlog" : "a full datagram queue");
        if (stream)
        {
            // The stream listener takes /dev/log over; one connection nobody accepts fills its backlog.
            ASSERT_EQ(unlink("/dev/log"), 0);
            ASSERT_EQ(bind(listener.Get(), logAddress(), sizeof(sockaddr_un)), 0);
            ASSERT_EQ(listen(listener.Get(), 0), 0);
            ASSERT_EQ(connect(waiting.Get(), logAddress(), sizeof(sockaddr_un)), 0) << strerror(errno);
            const FileDescriptor another(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            ASSERT_NE(connect(another.Get(), logAddress(), sizeof(sockaddr_un)), 0);
            ASSERT_EQ(errno, EAGAIN);
        }
        writeFile(target + "/a", "a");
        // Ends on its own (RunProgram kills it after 20 s otherwise) with the removal's own status.
        const Run met = run("target", "-v");
        EXPECT_EQ(met.status, 0) << met.text;
        EXPECT_FALSE(exists(target + "/a"));
        EXPECT_EQ(met.text, "removed " + target +
                                  "/a\nsummary: 1 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n"
                                  "the system log did not take this run's record: Connection timed out\n");
    }
}
