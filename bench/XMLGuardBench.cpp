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

#include "LargeDefinition.h"
#include "PairedRatios.h"
#include "XMLParser.h"
#include "XMLReading.h"

namespace
{


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
