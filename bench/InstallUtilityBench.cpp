// Removing an installed product with InstallUtility against the obvious alternative, rm -rf of
// the same tree: a generated product of 20,000 files in 200 directories, installed twice, one
// copy removed each way in the same run. Prints the ratio of the mean times at the end.
#include <benchmark/benchmark.h>

#include "PairedRatios.h"
#include "TemporaryFolder.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

const int directoryCount = 200;
const int filesPerDirectory = 100;

std::string workDirectory;
std::string installUtility;

std::string directoryName(int d)
{
    return "Module" + std::to_string(d);
}

std::string fileName(int f)
{
    return "resource" + std::to_string(f) + ".dat";
}

// The definition lists every file, as a real product's does.
void writeDefinition(const std::string& path)
{
    std::ofstream out(path);
    out << "<product><sku name=\"Generated\"/><installFiles><directory fileName=\"Product\">\n";
    for (int d = 0; d < directoryCount; ++d)
    {
        out << "<directory fileName=\"" << directoryName(d) << "\">";
        for (int f = 0; f < filesPerDirectory; ++f)
            out << "<file fileName=\"" << fileName(f) << "\"/>";
        out << "</directory>\n";
    }
    out << "</directory></installFiles></product>\n";
}

void install(const std::string& target)
{
    const std::string product = target + "/Product";
    mkdir(target.c_str(), 0755);
    mkdir(product.c_str(), 0755);
    const char content[] = "generated payload\n";
    for (int d = 0; d < directoryCount; ++d)
    {
        const std::string directory = product + "/" + directoryName(d);
        mkdir(directory.c_str(), 0755);
        for (int f = 0; f < filesPerDirectory; ++f)
        {
            const int fd = open((directory + "/" + fileName(f)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
            {
                if (write(fd, content, sizeof content - 1) < 0)
                    perror("write");
                close(fd);
            }
        }
    }
}

// Runs argv to its end with its output discarded; the seconds it took, or -1 when it failed.
double timedRun(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration installs the product afresh (not timed), flushes it to disk, then times one removal.
void measureRemoval(benchmark::State& state, bool withInstallUtility)
{
    const std::string target = workDirectory + (withInstallUtility ? "/utility" : "/rm");
    for (auto _ : state)
    {
        install(target);
        sync();
        const double seconds = withInstallUtility
                                   ? timedRun({installUtility, "-uninstall", workDirectory + "/sku.xml",
                                               workDirectory + "/target_path.xml", "-v"})
                                   : timedRun({"/bin/rm", "-rf", target + "/Product"});
        if (seconds < 0 || std::filesystem::exists(target + "/Product"))
        {
            state.SkipWithError("the removal failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["files"] = directoryCount * filesPerDirectory;
}

void BM_InstallUtilityUninstall(benchmark::State& state)
{
    measureRemoval(state, true);
}

void BM_RmRf(benchmark::State& state)
{
    measureRemoval(state, false);
}

BENCHMARK(BM_InstallUtilityUninstall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RmRf)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// InstallUtility from INSTALL_UTILITY, else where the build puts it beside bench/.
std::string findInstallUtility()
{
    if (const char* given = getenv("INSTALL_UTILITY"))
        return given;
    char self[PATH_MAX + 1] = {};
    if (readlink("/proc/self/exe", self, PATH_MAX) <= 0)
        return "";
    const std::filesystem::path build = std::filesystem::path(self).parent_path().parent_path();
    return (build / "Utility" / "InstallUtility" / "InstallUtility").string();
}

} // namespace

int main(int argc, char** argv)
{
    installUtility = findInstallUtility();
    if (access(installUtility.c_str(), X_OK) != 0)
    {
        fprintf(stderr, "InstallUtility not found at %s (build it, or set INSTALL_UTILITY)\n",
                installUtility.c_str());
        return 1;
    }
    const TemporaryFolder folder("installutility-bench");
    if (folder.path().empty())
    {
        fprintf(stderr, "no temporary folder: %s\n", folder.why().c_str());
        return 1;
    }
    workDirectory = folder.path();
    writeDefinition(workDirectory + "/sku.xml");
    std::ofstream(workDirectory + "/target_path.xml")
        << "<targetPath path=\"" << workDirectory << "/utility\"/>\n";

    return RunBenchmarksWithRatios(argc, argv,
                                   [](const RatioReporter& reporter)
                                   {
                                       reporter.PrintRatio("InstallUtility -uninstall / rm -rf, mean time "
                                                           "(target at most 1.5)",
                                                           "BM_InstallUtilityUninstall", "BM_RmRf",
                                                           RatioReporter::Clock::Real, "run");
                                   });
}
