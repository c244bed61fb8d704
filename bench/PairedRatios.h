#ifndef TQ_BENCH_PAIREDRATIOS_H
#define TQ_BENCH_PAIREDRATIOS_H

// The one ratio reporter of the benchmark programs: it keeps each benchmark's times as the table
// is printed, and afterwards prints every ratio of ours against the obvious alternative as one
// line of the same shape, "ratio <what> <ours/theirs> (<ours> / <theirs> <unit>)".
//
// Benchmarks with repetitions are compared by an aggregate (the median, or "min" where a program
// computes it); CPU time and medians by default, because the machine may be shared while this
// runs. Benchmarks without repetitions are compared by their one run (with manual time, the mean
// of the times they set).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Prints one ratio line; every program's ratios come out through here.
inline void PrintRatioLine(const std::string& what, double ours, double theirs, const char* unit)
{
    if (ours > 0 && theirs > 0)
        std::printf("ratio %-58s %6.2f  (%.2f / %.2f %s)\n", what.c_str(), ours / theirs, ours, theirs, unit);
    else
        std::printf("ratio %-58s    n/a  (not measured)\n", what.c_str());
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    enum class Clock
    {
        Cpu,
        Real, // the manual time, for benchmarks that set it
    };

    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            const std::string statistic = run.run_type == Run::RT_Aggregate ? run.aggregate_name : "run";
            Times& times = kept[run.run_name.function_name][statistic];
            times.cpu = run.GetAdjustedCPUTime();
            times.real = run.GetAdjustedRealTime();
            times.unit = benchmark::GetTimeUnitString(run.time_unit);
        }
    }

    // The ratio of benchmark ours to benchmark theirs by the statistic ("median", "min", or "run"
    // for a benchmark without repetitions).
    void PrintRatio(const std::string& what, const std::string& ours, const std::string& theirs,
                    Clock clock = Clock::Cpu, const std::string& statistic = "median") const
    {
        const Times a = find(ours, statistic);
        const Times b = find(theirs, statistic);
        const bool cpu = clock == Clock::Cpu;
        PrintRatioLine(what, cpu ? a.cpu : a.real, cpu ? b.cpu : b.real, a.unit.c_str());
    }

private:
    struct Times
    {
        double cpu = 0;
        double real = 0;
        std::string unit;
    };

    Times find(const std::string& name, const std::string& statistic) const
    {
        const auto benchmark = kept.find(name);
        if (benchmark == kept.end())
            return Times();
        const auto times = benchmark->second.find(statistic);
        return times == benchmark->second.end() ? Times() : times->second;
    }

    // Benchmark name to statistic to times.
    std::map<std::string, std::map<std::string, Times>> kept;
};

// The main of every benchmark program: runs what the command line selects with the ratio
// reporter, then prints the ratios.
inline int RunBenchmarksWithRatios(int argc, char** argv,
                                   const std::function<void(const RatioReporter&)>& ratios)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\n");
    ratios(reporter);
    return 0;
}

// Registers Tq_NAME and Std_NAME with five repetitions, reporting their aggregates.
#define PAIRED_BENCHMARK(name)                                                                               \
    BENCHMARK(Tq_##name)->Repetitions(5)->ReportAggregatesOnly(true);                                        \
    BENCHMARK(Std_##name)->Repetitions(5)->ReportAggregatesOnly(true)

// The main of a program of paired benchmarks: one ratio Tq_NAME / Std_NAME per name.
inline int RunPairedBenchmarks(int argc, char** argv, const char* title,
                               const std::vector<const char*>& names)
{
    return RunBenchmarksWithRatios(argc, argv,
                                   [&](const RatioReporter& reporter)
                                   {
                                       std::printf("%s\n", title);
                                       for (const char* name : names)
                                           reporter.PrintRatio(name, std::string("Tq_") + name,
                                                               std::string("Std_") + name);
                                   });
}

#endif
