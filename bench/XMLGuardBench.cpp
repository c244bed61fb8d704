// The reader's depth guard against the simpler one it was measured against: scanning the text for
// its nesting before parsing (the guard the reader keeps) against parsing on a thread whose stack is
// sized by the number of '<' in the text, then walking the tree without recursion to refuse it
// when nested too deeply, and freeing it on that thread. Both read a large generated definition, a
// definition nested as deeply as admitted, and one nested too deeply. Prints the time ratios.

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "PairedRatios.h"
#include "XMLParser.h"
#include "XMLReading.h"

namespace
{

// The definition the definition benchmark reads: a large product, 1.7 MB.
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

// A definition nested depth elements deep in all, product included.
std::string nestedDefinition(size_t depth)
{
    std::string xml = "<product><sku name=\"Deep\"/>";
    for (size_t level = 1; level < depth; ++level)
        xml += "<directory fileName=\"d\">";
    for (size_t level = 1; level < depth; ++level)
        xml += "</directory>";
    return xml + "</product>";
}

// The thread guard. The parser takes about 250 bytes of stack per nesting level; twice that per '<'.
const size_t stackPerLevel = 512;
const size_t stackBase = 1u << 20;

bool nestedWithin(const TiXmlDocument& document, size_t limit)
{
    size_t level = 0; // elements above node
    for (const TiXmlNode* node = document.FirstChild(); node != nullptr;)
    {
        const size_t here = level + (node->ToElement() ? 1 : 0);
        if (here > limit)
            return false;
        if (const TiXmlNode* child = node->FirstChild())
        {
            level = here;
            node = child;
            continue;
        }
        while (node != nullptr && node->NextSibling() == nullptr)
        {
            node = node->Parent();
            if (node == &document)
                return true;
            level -= node->ToElement() ? 1 : 0;
        }
        node = node ? node->NextSibling() : nullptr;
    }
    return true;
}

struct ParseJob
{
    const std::vector<char>* text;
    bool admitted;
};

void* parseAndWalk(void* argument)
{
    ParseJob& job = *static_cast<ParseJob*>(argument);
    TiXmlDocument document;
    document.Parse(job.text->data(), nullptr, TIXML_DEFAULT_ENCODING);
    job.admitted = nestedWithin(document, XMLReading::deepestNesting) && !document.Error();
    return nullptr;
}

// Reads text as XMLReading::UseText does (copied up to its first NUL and padded), with the thread
// guard in place of the scan.
bool readOnSizedThread(const std::string& source)
{
    const size_t length = strnlen(source.data(), source.size());
    std::vector<char> text(length + 4, '\0');
    std::copy(source.data(), source.data() + length, text.begin());
    const size_t opens = static_cast<size_t>(std::count(text.begin(), text.end(), '<'));
    ParseJob job{&text, false};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackBase + opens * stackPerLevel);
    pthread_t thread;
    const int made = pthread_create(&thread, &attributes, &parseAndWalk, &job);
    pthread_attr_destroy(&attributes);
    if (made != 0)
        throw std::bad_alloc();
    pthread_join(thread, nullptr);
    return job.admitted;
}

bool readScanned(const std::string& text)
{
    return XMLReading::UseText(text.data(), text.size(), [](TiXmlDocument&) {});
}

const std::string& large()
{
    static const std::string text = largeDefinition();
    return text;
}

const std::string& admittedDepth()
{
    static const std::string text = nestedDefinition(XMLReading::deepestNesting);
    return text;
}

// Deep enough to show how the parser's cost grows with nesting, shallow enough to measure often.
const std::string& tooDeep()
{
    static const std::string text = nestedDefinition(4000);
    return text;
}

void run(benchmark::State& state, bool (*read)(const std::string&), const std::string& text, bool expected)
{
    for (auto _ : state)
    {
        const bool admitted = read(text);
        if (admitted != expected)
            state.SkipWithError("the guard decided otherwise than expected");
        benchmark::DoNotOptimize(admitted);
    }
}

void Tq_LargeDefinition(benchmark::State& state) { run(state, readScanned, large(), true); }
void Std_LargeDefinition(benchmark::State& state) { run(state, readOnSizedThread, large(), true); }
void Tq_Nested256(benchmark::State& state) { run(state, readScanned, admittedDepth(), true); }
void Std_Nested256(benchmark::State& state) { run(state, readOnSizedThread, admittedDepth(), true); }
void Tq_Nested4000(benchmark::State& state) { run(state, readScanned, tooDeep(), false); }
void Std_Nested4000(benchmark::State& state) { run(state, readOnSizedThread, tooDeep(), false); }

// As PAIRED_BENCHMARK, but counting the CPU time of the whole process: one side parses on a thread
// of its own.
#define GUARD_BENCHMARK(name)                                                                                \
    BENCHMARK(Tq_##name)->Repetitions(5)->ReportAggregatesOnly(true)->MeasureProcessCPUTime();              \
    BENCHMARK(Std_##name)->Repetitions(5)->ReportAggregatesOnly(true)->MeasureProcessCPUTime()

GUARD_BENCHMARK(LargeDefinition);
GUARD_BENCHMARK(Nested256);
GUARD_BENCHMARK(Nested4000);

} // namespace

int main(int argc, char** argv)
{
    return RunPairedBenchmarks(argc, argv, "Scan then parse / parse on a sized thread then walk (CPU time):",
                               {"LargeDefinition", "Nested256", "Nested4000"});
}
