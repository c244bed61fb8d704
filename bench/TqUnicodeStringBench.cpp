// Wide string work on a text of 1 Mi characters against the same work on std::wstring, in one
// run. Prints each TqUnicodeString / std::wstring time ratio after the table.

#include "StringLibrary.h"
#include "TqUnicodeString.h"

#include "PairedRatios.h"
#include "StdStringWork.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace
{
const size_t textSize = 1 << 20;

std::wstring randomLetters(size_t size)
{
    std::mt19937 random(42);
    std::wstring text(size, L'a');
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(L'a' + random() % 26);
    return text;
}

// Letters with "needle!" at the very end and, for the backward search, at the very start.
const std::wstring& searchText()
{
    static const std::wstring text = randomLetters(textSize - 7) + L"needle!";
    return text;
}
const std::wstring& searchTextLast()
{
    static const std::wstring text = L"needle!" + randomLetters(textSize - 7);
    return text;
}

// 100,000 pieces of nine letters, each followed by ';', then letters up to the full size.
const std::wstring& piecesText()
{
    static const std::wstring text = []
    {
        const std::wstring letters = randomLetters(textSize);
        std::wstring out;
        for (size_t i = 0; i < 100000; ++i)
            out += letters.substr(i * 10, 9) + L";";
        out += letters.substr(0, textSize - out.size());
        return out;
    }();
    return text;
}

TqUnicodeString wide(const std::wstring& text)
{
    return TqUnicodeString(text.data(), text.size());
}

void Tq_IndexOf(benchmark::State& state)
{
    const TqUnicodeString text = wide(searchText()), needle(L"needle!");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.IndexOf(needle, 0));
}
void Std_IndexOf(benchmark::State& state)
{
    const std::wstring& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(L"needle!"));
}
void Tq_IndexLastOf(benchmark::State& state)
{
    const TqUnicodeString text = wide(searchTextLast()), needle(L"needle!");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.IndexLastOf(needle));
}
void Std_IndexLastOf(benchmark::State& state)
{
    const std::wstring& text = searchTextLast();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.rfind(L"needle!"));
}
void Tq_Replace(benchmark::State& state)
{
    TqUnicodeString text = wide(piecesText());
    const TqUnicodeString from(L";"), to(L"<>");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.Replace(from, to).Size());
}
void Std_Replace(benchmark::State& state)
{
    const std::wstring& text = piecesText();
    for (auto _ : state)
        benchmark::DoNotOptimize(stdReplace<std::wstring>(text, L";", L"<>").size());
}
void Tq_Split(benchmark::State& state)
{
    const TqUnicodeString text = wide(piecesText()), separator(L";");
    for (auto _ : state)
        benchmark::DoNotOptimize(StringLibrary::Split(text, separator, true).size());
}
void Std_Split(benchmark::State& state)
{
    const std::wstring& text = piecesText();
    for (auto _ : state)
        benchmark::DoNotOptimize(stdSplit<std::wstring>(text, L";").size());
}

} // namespace

PAIRED_BENCHMARK(IndexOf);
PAIRED_BENCHMARK(IndexLastOf);
PAIRED_BENCHMARK(Replace);
PAIRED_BENCHMARK(Split);

int main(int argc, char** argv)
{
    return RunPairedBenchmarks(argc, argv,
                               "TqUnicodeString / std::wstring, median CPU time (target: at most 2)",
                               {"IndexOf", "IndexLastOf", "Replace", "Split"});
}
