#ifndef TQ_BENCH_PAIREDRATIOS_H
#define TQ_BENCH_PAIREDRATIOS_H

// Runs benchmarks registered in pairs, Tq_NAME and Std_NAME, and prints for each NAME the ratio of
// their median CPU times. CPU time and medians, because the machine may be shared while this runs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class PairedRatioReporter : public benchmark::ConsoleReporter
{
public:
    PairedRatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }

    void PrintRatios(const char* title, const std::vector<const char*>& names) const
    {
        std::printf("\n%s\n", title);
        for (const char* name : names)
        {
            const auto ours = medians.find(std::string("Tq_") + name);
            const auto theirs = medians.find(std::string("Std_") + name);
            if (ours != medians.end() && theirs != medians.end() && theirs->second > 0)
                std::printf("  %-18s %6.2f\n", name, ours->second / theirs->second);
        }
    }

private:
    std::map<std::string, double> medians;
};

// Registers Tq_NAME and Std_NAME with five repetitions, reporting their aggregates.
#define PAIRED_BENCHMARK(name)                                                                               \
    BENCHMARK(Tq_##name)->Repetitions(5)->ReportAggregatesOnly(true);                                        \
    BENCHMARK(Std_##name)->Repetitions(5)->ReportAggregatesOnly(true)

// The main of a paired benchmark program.
inline int RunPairedBenchmarks(int argc, char** argv, const char* title,
                               const std::vector<const char*>& names)
{
    benchmark::Initialize(&argc, argv);
    PairedRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(title, names);
    benchmark::Shutdown();
    return 0;
}

#endif
