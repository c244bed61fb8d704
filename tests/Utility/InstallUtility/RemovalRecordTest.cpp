// The record each run of the tool leaves in the system log, read from a socket of the test's own
// that stands at /dev/log in a private mount namespace.
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>

#include "FileDescriptor.h"
#include "RemovalFixture.h"
#include "RunProgram.h"

namespace
{

// Exit statuses of the child that runs the tool in its own mount namespace.
const int recorded = 0;
const int cannotIsolate = 3;

class RemovalRecordTest : public RemovalFixture
{
protected:
    // Runs the tool with arguments and environment in a mount namespace whose /dev is a fresh
    // tmpfs holding only the test's datagram socket at /dev/log; the records it received, one
    // per line, or why the namespace could not be made (skipped).
    std::string records(const std::vector<std::string>& arguments, const std::map<std::string, const char*>& environment,
                        bool& skipped)
    {
        const RunProgram::ChildOutcome outcome = RunProgram::RunInChild([&](int output) {
            std::string reason;
            if (!enterPrivateMountNamespace(reason) || mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") != 0)
            {
                reason += std::string("cannot mount a tmpfs on /dev in a private namespace: ") + strerror(errno);
                return write(output, reason.data(), reason.size()) >= 0 ? cannotIsolate : cannotIsolate;
            }
            const FileDescriptor logSocket(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            strcpy(address.sun_path, "/dev/log");
            if (!logSocket.IsOpen() || bind(logSocket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                return 4;
            RunProgram::Launch launch;
            launch.command = {INSTALL_UTILITY_PATH};
            launch.command.insert(launch.command.end(), arguments.begin(), arguments.end());
            launch.environment = RunProgram::EnvironmentWith(environment);
            launch.input = RunProgram::Inherited; // there is no /dev/null here
            launch.output = launch.errors = RunProgram::Captured;
            if (RunProgram::Run(launch, 20).status < 0)
                return 5;
            std::string text;
            char datagram[8192];
            pollfd waiting = {logSocket.Get(), POLLIN, 0};
            while (poll(&waiting, 1, 200) > 0)
            {
                const ssize_t size = recv(logSocket.Get(), datagram, sizeof datagram, 0);
                if (size <= 0)
                    break;
                text.append(datagram, static_cast<size_t>(size));
                text += '\n';
            }
            return write(output, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? recorded : 6;
        });
        const int status = outcome.waitStatus && WIFEXITED(*outcome.waitStatus) ? WEXITSTATUS(*outcome.waitStatus) : -1;
        skipped = status == cannotIsolate;
        EXPECT_TRUE(status == recorded || skipped) << "the child ended with " << status;
        return outcome.text;
    }
};

} // namespace

TEST_F(RemovalRecordTest, EachRunLeavesOneRecordOfWhoWhatWhereAndHowItEnded)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string definition = base + "/sku.xml";
    const std::string targetFile = base + "/target_path.xml";
    // The product's name holds quotes and a line break: the record stays one line.
    writeFile(definition, "<product><sku name='Tq &quot;Demo&quot;&#10;Two'/><installFiles><file fileName='a'/>"
                          "<file fileName='gone'/><directory fileName='d'><file fileName='kept'/></directory>"
                          "</installFiles></product>");
    writeFile(targetFile, "<targetPath path='" + target + "'/>");
    const std::string product = "\"Tq \\\"Demo\\\"\\nTwo\"";
    const std::string removal = "removal of " + product + " from " + target + " asked by uid 0";
    const struct
    {
        const char* what;
        std::vector<std::string> arguments;
        std::map<std::string, const char*> environment;
        std::string priority; // facility user: 13 notice, 12 warning
        std::string message;
    } runs[] = {
        {"a dry run", {"-n"}, {}, "13",
         "dry run: " + removal + ": 2 would be removed, 1 kept, 1 missing, 0 would fail, 0 failed, 0 ignored; exit status 0"},
        {"a removal through sudo", {"-v"}, {{"SUDO_UID", "4242"}}, "13",
         removal + " (for uid 4242 through sudo): 2 removed, 1 kept, 1 missing, 0 failed, 0 ignored; exit status 0"},
        {"a refusal", {"-v"}, {{"SUDO_UID", nullptr}}, "12",
         "removal asked by uid 0: refused: cannot read the target path from " + base + "/none.xml; exit status 2"},
    };
    writeFile(target + "/a", "a");
    writeFile(target + "/d/kept", "k");
    writeFile(target + "/d/unlisted", "u");
    for (const auto& run : runs)
    {
        std::vector<std::string> arguments = {"-uninstall", definition,
                                              run.priority == "12" ? base + "/none.xml" : targetFile};
        arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
        std::map<std::string, const char*> environment = {{"SUDO_UID", nullptr}, {"PKEXEC_UID", nullptr}};
        for (const auto& variable : run.environment)
            environment[variable.first] = variable.second;
        bool skipped = false;
        const std::string text = records(arguments, environment, skipped);
        if (skipped)
            GTEST_SKIP() << text;
        // As the C library sends it: <PRIORITY>TIMESTAMP IDENT[PID]: MESSAGE, one per run.
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(text, parts, std::regex("<(\\d+)>.{15} InstallUtility\\[\\d+\\]: ([^\n]*)\n")))
            << run.what << ": " << text;
        EXPECT_EQ(parts[1].str(), run.priority) << run.what;
        EXPECT_EQ(parts[2].str(), run.message) << run.what;
    }
}
