// Reading a large product definition with SKUDefinition::fromFile against TinyXML's own load of the
// same file, in one run. Prints the time ratios (median and fastest repetition) and the peak heap
// use of each after the table.

#include "SKUDefinition.h"
#include "XMLParser.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// Heap accounting: malloc and its relatives are replaced by forwarders to the C library's own
// allocator that count the usable size of every block, so the bytes in use and their peak are
// known while a measured call runs. operator new ends up here too, as do TqString's buffers and
// TinyXML's nodes. Counting is on only for the one call each benchmark measures its peak in, so
// the timed runs pay for none of it. The benchmarks run on one thread, so plain counters do.
extern "C"
{
    void* __libc_malloc(size_t size);
    void* __libc_calloc(size_t count, size_t size);
    void* __libc_realloc(void* pointer, size_t size);
    void* __libc_memalign(size_t alignment, size_t size);
    void __libc_free(void* pointer);
}

namespace
{
bool counting = false;
// Signed: a block from before counting began may be released while it is on.
long long bytesInUse = 0;
long long peakBytes = 0;

long long sizeOf(void* pointer)
{
    return static_cast<long long>(malloc_usable_size(pointer));
}

void* counted(void* pointer)
{
    if (pointer && counting)
    {
        bytesInUse += sizeOf(pointer);
        if (bytesInUse > peakBytes)
            peakBytes = bytesInUse;
    }
    return pointer;
}

void uncount(void* pointer)
{
    if (pointer && counting)
        bytesInUse -= sizeOf(pointer);
}
} // namespace

extern "C"
{
    void* malloc(size_t size)
    {
        return counted(__libc_malloc(size));
    }

    void* calloc(size_t count, size_t size)
    {
        return counted(__libc_calloc(count, size));
    }

    void* realloc(void* pointer, size_t size)
    {
        // The old block's size is gone once realloc has run, moved or not.
        const long long before = pointer && counting ? sizeOf(pointer) : 0;
        void* grown = __libc_realloc(pointer, size);
        // A failed growth keeps the old block; a zero size frees it.
        if (grown || size == 0)
            bytesInUse -= before;
        return counted(grown);
    }

    void free(void* pointer)
    {
        uncount(pointer);
        __libc_free(pointer);
    }

    void* memalign(size_t alignment, size_t size)
    {
        return counted(__libc_memalign(alignment, size));
    }

    void* aligned_alloc(size_t alignment, size_t size)
    {
        return counted(__libc_memalign(alignment, size));
    }

    int posix_memalign(void** result, size_t alignment, size_t size)
    {
        if (alignment < sizeof(void*) || (alignment & (alignment - 1)))
            return EINVAL;
        void* pointer = counted(__libc_memalign(alignment, size));
        if (!pointer)
            return ENOMEM;
        *result = pointer;
        return 0;
    }
}

namespace
{

// A definition shaped like a large product: 200 families of 5 plug-ins, 30 hosts for x86 and
// x64, and 20,000 install files 3 to 4 levels deep.
std::string largeDefinition()
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<product>\n"
                      "  <sku ID=\"BENCH-1\" name=\"Benchmark Product\" build=\"4711\" prefix=\"BP\"/>\n"
                      "  <families>\n";
    char line[512];
    for (int family = 0; family < 200; ++family)
    {
        snprintf(line, sizeof line, "    <family name=\"Family%03d\">\n      <plugins>\n", family);
        xml += line;
        for (int plugin = 0; plugin < 5; ++plugin)
        {
            snprintf(line, sizeof line, "        <plugin name=\"Family%03dPlugin%d\"/>\n", family, plugin);
            xml += line;
        }
        snprintf(
            line, sizeof line,
            "      </plugins>\n      <contents><content name=\"Family%03dContent\"/></contents>\n"
            "      <featuresmask name=\"%08x%08x\"/>\n      <contentmask name=\"%04x\"/>\n    </family>\n",
            family, family * 7919u, family * 104729u, family);
        xml += line;
    }
    xml += "  </families>\n";
    for (const char* list : {"hosts", "hostsForBuild"})
    {
        xml += std::string("  <") + list + ">\n";
        for (int host = 0; host < 30; ++host)
        {
            std::string families;
            for (int family = host; family < 200; family += 10)
                families += "Family" + std::to_string(1000 + family).substr(1) + ";";
            snprintf(line, sizeof line,
                     "    <host name=\"Host%02d\" arch=\"x86;x64\" compilerOptions=\"-O%d\"", host, host % 3);
            xml += line;
            xml += " families=\"" + families + "\"/>\n";
        }
        xml += std::string("  </") + list + ">\n";
    }
    // 20 top directories of 10 subdirectories; each of those holds 50 files and 5 directories of
    // 10 files: 20 x 10 x (50 + 50) = 20,000 files.
    xml += "  <installFiles>\n";
    int fileNumber = 0;
    for (int top = 0; top < 20; ++top)
    {
        snprintf(line, sizeof line, "    <directory fileName=\"Top%02d\" dontdelete=\"%d\">\n", top, top % 2);
        xml += line;
        for (int middle = 0; middle < 10; ++middle)
        {
            snprintf(line, sizeof line, "      <directory fileName=\"Middle%02d\" allowdowngrade=\"1\">\n",
                     middle);
            xml += line;
            for (int file = 0; file < 50; ++file, ++fileNumber)
            {
                snprintf(line, sizeof line,
                         "        <file fileName=\"File%05d.dat\" arch=\"%s\" configuration=\"Release\"%s>",
                         fileNumber, file % 2 ? "x86" : "x64", file % 5 ? "" : " dontdelete=\"0\"");
                xml += line;
                if (file == 0)
                {
                    snprintf(line, sizeof line, "<shortCut name=\"Link%05d\" dir=\"Desktop\"/>", fileNumber);
                    xml += line;
                }
                xml += "</file>\n";
            }
            for (int inner = 0; inner < 5; ++inner)
            {
                snprintf(line, sizeof line, "        <directory fileName=\"Inner%d\">\n", inner);
                xml += line;
                for (int file = 0; file < 10; ++file, ++fileNumber)
                {
                    snprintf(line, sizeof line,
                             "          <file fileName=\"File%05d.dat\" ignoreinstallerrors=\"1\"/>\n",
                             fileNumber);
                    xml += line;
                }
                xml += "        </directory>\n";
            }
            xml += "      </directory>\n";
        }
        xml += "    </directory>\n";
    }
    xml += "  </installFiles>\n"
           "  <install><link url=\"https://example.com/register\"/><noAccount>"
           "<internetOn url=\"https://example.com/on\"/><internetOff url=\"https://example.com/off\"/>"
           "</noAccount></install>\n</product>\n";
    return xml;
}

// The generated definition, written once to a temporary folder that is removed at exit.
const std::string& definitionPath()
{
    static std::string path;
    if (path.empty())
    {
        char folder[] = "/tmp/skubenchXXXXXX";
        if (!mkdtemp(folder))
            std::abort();
        path = std::string(folder) + "/sku.xml";
        const std::string xml = largeDefinition();
        FILE* file = fopen(path.c_str(), "wb");
        if (!file || fwrite(xml.data(), 1, xml.size(), file) != xml.size())
            std::abort();
        fclose(file);
        std::atexit(
            []
            {
                unlink(definitionPath().c_str());
                rmdir(definitionPath().substr(0, definitionPath().rfind('/')).c_str());
            });
    }
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

// The highest heap use above the starting level during one call.
size_t peakOf(void (*work)())
{
    bytesInUse = 0;
    peakBytes = 0;
    counting = true;
    work();
    counting = false;
    return static_cast<size_t>(peakBytes);
}

std::map<std::string, size_t> peaks;

void BM_FromFile(benchmark::State& state)
{
    peaks["fromFile"] = peakOf(readWithSKUDefinition);
    for (auto _ : state)
        readWithSKUDefinition();
    state.counters["peak_MB"] = peaks["fromFile"] / 1e6;
}
// The fastest of several repetitions: the machine is shared, and interference only adds time.
double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

BENCHMARK(BM_FromFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ComputeStatistics("min", fastest)
    ->ReportAggregatesOnly(true);

void BM_TinyXmlLoad(benchmark::State& state)
{
    peaks["TinyXML"] = peakOf(loadWithTinyXml);
    for (auto _ : state)
        loadWithTinyXml();
    state.counters["peak_MB"] = peaks["TinyXML"] / 1e6;
}
BENCHMARK(BM_TinyXmlLoad)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ComputeStatistics("min", fastest)
    ->ReportAggregatesOnly(true);

// Keeps each benchmark's median and fastest time per iteration for the ratios printed after the
// table.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    struct Times
    {
        double real = 0;
        double cpu = 0;
    };

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
        {
            if (run.run_type == Run::RT_Aggregate &&
                (run.aggregate_name == "median" || run.aggregate_name == "min"))
            {
                times[run.aggregate_name][run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                                         run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Aggregate name to benchmark name to times.
    std::map<std::string, std::map<std::string, Times>> times;
};

void printRatios(const char* aggregate, std::map<std::string, RatioReporter::Times>& times)
{
    const RatioReporter::Times fromFile = times["BM_FromFile"];
    const RatioReporter::Times tinyXml = times["BM_TinyXmlLoad"];
    if (fromFile.cpu > 0 && tinyXml.cpu > 0 && fromFile.real > 0 && tinyXml.real > 0)
    {
        printf("fromFile / TinyXML load, %s CPU time: %.2f (%.2f ms / %.2f ms); real time: %.2f\n", aggregate,
               fromFile.cpu / tinyXml.cpu, fromFile.cpu, tinyXml.cpu, fromFile.real / tinyXml.real);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Repetitions of the two benchmarks alternate, so both see the same load on a shared machine.
    std::vector<char*> arguments(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave);
    argc = static_cast<int>(arguments.size());
    argv = arguments.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Written before any measurement, so generating it counts in neither peak.
    const size_t definitionBytes = largeDefinition().size();
    definitionPath();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printf("definition file: %.1f MB\n", static_cast<double>(definitionBytes) / 1e6);
    printRatios("median", reporter.times["median"]);
    printRatios("fastest", reporter.times["min"]);
    if (peaks["TinyXML"] > 0)
    {
        printf("peak heap: fromFile %.1f MB, TinyXML load %.1f MB (ratio %.2f)\n", peaks["fromFile"] / 1e6,
               peaks["TinyXML"] / 1e6, static_cast<double>(peaks["fromFile"]) / peaks["TinyXML"]);
    }
    return 0;
}
