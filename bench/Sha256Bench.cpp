// SHA-256 of a 7 MB buffer, the size of a large product definition, with the processor's SHA
// instructions against the portable code in the same run. Prints the ratio of the median CPU
// times.

#include "Sha256.h"

#include "PairedRatios.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace
{

const std::string& definitionSizedBuffer()
{
    static const std::string bytes = []
    {
        std::string made(7 * 1000 * 1000, '\0');
        for (size_t index = 0; index < made.size(); ++index)
            made[index] = static_cast<char>(index * 131 + (index >> 8));
        return made;
    }();
    return bytes;
}

void Hash(benchmark::State& state, Sha256 (*make)())
{
    const std::string& bytes = definitionSizedBuffer();
    for (auto _ : state)
    {
        Sha256 digest = make();
        digest.Add(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(digest.HexDigest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Sha256Default(benchmark::State& state)
{
    if (!Sha256::UsesProcessorExtensions())
        state.SkipWithError("this processor has no SHA instructions");
    Hash(state, [] { return Sha256(); });
}

void BM_Sha256Portable(benchmark::State& state)
{
    Hash(state, Sha256::Portable);
}

BENCHMARK(BM_Sha256Default)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Sha256Portable)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithRatios(argc, argv,
                                   [](const RatioReporter& reporter)
                                   {
                                       reporter.PrintRatio("SHA-256 of 7 MB, SHA instructions / portable code",
                                                           "BM_Sha256Default", "BM_Sha256Portable");
                                   });
}
