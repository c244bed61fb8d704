// 2,000 RemoveFile and 2,000 CreateDirectory calls, started without a shell, against the same
// command lines run through system() in the same run. Prints the system() / FileLibrary ratio of
// the mean times.

#include "FileLibrary.h"

#include "PairedRatios.h"
#include "TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
const int callsEach = 2000;

std::string& workDirectory()
{
    static std::string directory;
    return directory;
}

std::string FileName(int i)
{
    return workDirectory() + "/file " + std::to_string(i);
}
std::string DirectoryName(int i)
{
    return workDirectory() + "/dir " + std::to_string(i);
}

// Untimed: the files to remove exist and the directories to create do not.
void Prepare()
{
    for (int i = 0; i < callsEach; ++i)
    {
        const int descriptor = open(FileName(i).c_str(), O_CREAT | O_WRONLY, 0644);
        if (descriptor >= 0)
            close(descriptor);
        rmdir(DirectoryName(i).c_str());
    }
}

template <typename Batch> void TimeBatches(benchmark::State& state, Batch batch)
{
    for (auto _ : state)
    {
        Prepare();
        const auto start = std::chrono::steady_clock::now();
        const int failures = batch();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (failures != 0)
            state.SkipWithError("a command failed");
        state.SetIterationTime(elapsed.count());
    }
    state.counters["calls"] = 2 * callsEach;
}

void BM_FileLibrary(benchmark::State& state)
{
    std::vector<TqString> files, directories;
    for (int i = 0; i < callsEach; ++i)
    {
        files.push_back(TqString(FileName(i).c_str()));
        directories.push_back(TqString(DirectoryName(i).c_str()));
    }
    TimeBatches(state,
                [&]
                {
                    int failures = 0;
                    for (int i = 0; i < callsEach; ++i)
                    {
                        failures += !FileLibrary::RemoveFile(files[i]);
                        failures += !FileLibrary::CreateDirectory(directories[i], true);
                    }
                    return failures;
                });
}

void BM_System(benchmark::State& state)
{
    std::vector<std::string> removeLines, createLines;
    for (int i = 0; i < callsEach; ++i)
    {
        removeLines.push_back("rm -f -- \"" + FileName(i) + "\"");
        createLines.push_back("mkdir -p -- \"" + DirectoryName(i) + "\"");
    }
    TimeBatches(state,
                [&]
                {
                    int failures = 0;
                    for (int i = 0; i < callsEach; ++i)
                    {
                        failures += std::system(removeLines[i].c_str()) != 0;
                        failures += std::system(createLines[i].c_str()) != 0;
                    }
                    return failures;
                });
}

BENCHMARK(BM_FileLibrary)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_System)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    const TemporaryFolder folder("filelibrarybench");
    if (folder.path().empty())
        return 1;
    workDirectory() = folder.path();
    return RunBenchmarksWithRatios(argc, argv,
                                   [](const RatioReporter& reporter)
                                   {
                                       reporter.PrintRatio("system() / FileLibrary, mean time of " +
                                                               std::to_string(2 * callsEach) + " calls",
                                                           "BM_System", "BM_FileLibrary",
                                                           RatioReporter::Clock::Real, "run");
                                   });
}
