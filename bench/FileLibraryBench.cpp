// 2,000 RemoveFile and 2,000 CreateDirectory calls, started without a shell, against the same
// command lines run through system() in the same run. Prints the system() / FileLibrary ratio.

#include "FileLibrary.h"

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

struct Totals
{
    double seconds = 0;
    long batches = 0;
    double PerBatch() const { return batches > 0 ? seconds / batches : 0; }
};
Totals libraryTotals;
Totals systemTotals;

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

template <typename Batch> void TimeBatches(benchmark::State& state, Totals& totals, Batch batch)
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
        totals.seconds += elapsed.count();
        ++totals.batches;
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
    TimeBatches(state, libraryTotals,
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
    TimeBatches(state, systemTotals,
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
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/filelibrarybench.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        return 1;
    workDirectory() = buffer.data();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (!FileLibrary::RemoveFolder(TqString(workDirectory().c_str())))
        std::fprintf(stderr, "could not remove %s\n", workDirectory().c_str());
    if (libraryTotals.batches > 0 && systemTotals.batches > 0)
        std::printf("system() / FileLibrary time for %d calls: %.2fx (%.0f ms vs %.0f ms)\n", 2 * callsEach,
                    systemTotals.PerBatch() / libraryTotals.PerBatch(), systemTotals.PerBatch() * 1000,
                    libraryTotals.PerBatch() * 1000);
    return 0;
}
