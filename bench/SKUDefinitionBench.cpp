// Reading a large product definition with SKUDefinition::fromFile against TinyXML's own load of the
// same file, in one run. Prints the time ratios (median and fastest repetition) and the ratio of
// the peak memory of one load of each, measured in a child process.

#include "SKUDefinition.h"
#include "XMLParser.h"

#include "LargeDefinition.h"
#include "PairedRatios.h"
#include "TemporaryFolder.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{


// The generated definition, written once to a temporary folder that goes when the program ends.
const std::string& definitionPath()
{
    static TemporaryFolder folder("skubench");
    static const std::string path = TemporaryFolder::WriteFile(folder.Path("sku.xml"), largeDefinition());
    return path;
}

void readWithSKUDefinition()
{
    SKUDefinition definition;
    definition.fromFile(TqString(definitionPath().c_str()));
    benchmark::DoNotOptimize(definition.installRoot.children.size());
}

void loadWithTinyXml()
{
    TiXmlDocument document;
    FILE* file = fopen(definitionPath().c_str(), "rb");
    document.LoadFile(file, TIXML_DEFAULT_ENCODING);
    fclose(file);
    benchmark::DoNotOptimize(document.FirstChild());
}

// The peak resident memory, in kilobytes, of a process forked from this one that runs work once
// and exits. The worker is the only child of a fresh measuring process, so that process's
// RUSAGE_CHILDREN peak is the worker's alone; it sends the figure back through a pipe.
long peakKilobytesOfOneRun(void (*work)())
{
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    const pid_t measurer = fork();
    if (measurer == 0)
    {
        close(channel[0]);
        const pid_t worker = fork();
        if (worker == 0)
        {
            if (work)
                work();
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        long peak = -1;
        if (worker > 0 && waitpid(worker, &status, 0) == worker && WIFEXITED(status) &&
            WEXITSTATUS(status) == 0 && getrusage(RUSAGE_CHILDREN, &usage) == 0)
            peak = usage.ru_maxrss;
        _exit(write(channel[1], &peak, sizeof peak) == sizeof peak ? 0 : 1);
    }
    close(channel[1]);
    long peak = -1;
    if (measurer < 0 || read(channel[0], &peak, sizeof peak) != sizeof peak)
        peak = -1;
    close(channel[0]);
    if (measurer > 0)
        waitpid(measurer, nullptr, 0);
    return peak;
}

// The fastest of several repetitions: the machine is shared, and interference only adds time.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

void BM_FromFile(benchmark::State& state)
{
    for (auto _ : state)
        readWithSKUDefinition();
}
BENCHMARK(BM_FromFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ComputeStatistics("min", fastest)
    ->ReportAggregatesOnly(true);

void BM_TinyXmlLoad(benchmark::State& state)
{
    for (auto _ : state)
        loadWithTinyXml();
}
BENCHMARK(BM_TinyXmlLoad)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ComputeStatistics("min", fastest)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    // Repetitions of the two benchmarks alternate, so both see the same load on a shared machine.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    argc = static_cast<int>(arguments.size());
    argv = arguments.data();

    // Measured before any load in this process, whose freed memory a child would reuse. The
    // peaks are above that of a child that exits at once: what the load itself adds.
    const double definitionBytes = static_cast<double>(largeDefinition().size());
    definitionPath();
    const long idle = peakKilobytesOfOneRun(nullptr);
    const long fromFilePeak = peakKilobytesOfOneRun(readWithSKUDefinition);
    const long tinyXmlPeak = peakKilobytesOfOneRun(loadWithTinyXml);

    return RunBenchmarksWithRatios(
        argc, argv,
        [&](const RatioReporter& reporter)
        {
            std::printf("definition file: %.1f MB; a child that only exits peaks at %.1f MB\n",
                        definitionBytes / 1e6, idle / 1e3);
            reporter.PrintRatio("fromFile / TinyXML load, median CPU time", "BM_FromFile", "BM_TinyXmlLoad");
            reporter.PrintRatio("fromFile / TinyXML load, fastest CPU time", "BM_FromFile", "BM_TinyXmlLoad",
                                RatioReporter::Clock::Cpu, "min");
            reporter.PrintRatio("fromFile / TinyXML load, median real time", "BM_FromFile", "BM_TinyXmlLoad",
                                RatioReporter::Clock::Real);
            PrintRatioLine("fromFile / TinyXML load, peak memory of one load", (fromFilePeak - idle) / 1e3,
                           (tinyXmlPeak - idle) / 1e3, "MB");
        });
}
