// Reading a large product definition with SKUDefinition::fromFile against TinyXML's own load of the
// same file, in one run. Prints the time ratios (median and fastest repetition) and the ratio of
// the peak memory of one load of each, measured in a child process.

#include "SKUDefinition.h"
#include "XMLParser.h"

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
