// Narrow string work on a 1 MiB text against the same work on std::string, in one run.
// Prints each TqString / std::string ratio of median CPU times after the table.

#include "StringLibrary.h"
#include "TqString.h"

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

std::string randomLetters(size_t size)
{
    std::mt19937 random(42);
    std::string text(size, 'a');
    for (char& c : text)
        c = static_cast<char>('a' + random() % 26);
    return text;
}

// 1 MiB of letters with "needle!" at the very end and, for the backward search, at the very start.
const std::string& searchText()
{
    static const std::string text = randomLetters(textSize - 7) + "needle!";
    return text;
}
const std::string& searchTextLast()
{
    static const std::string text = "needle!" + randomLetters(textSize - 7);
    return text;
}

// 100,000 pieces of about ten bytes separated by ';', about 1 MiB in all.
const std::string& piecesText()
{
    static const std::string text = []
    {
        std::string letters = randomLetters(textSize);
        std::string out;
        for (size_t i = 0; i < 100000; ++i)
            out += letters.substr(i * 10, 9) + ";";
        out += letters.substr(0, textSize - out.size());
        std::replace(out.begin() + 1000000, out.end(), ';', 'x');
        return out;
    }();
    return text;
}

// Case-insensitive search as the obvious std::string code writes it.
size_t stdFindIgnoreCase(const std::string& hay, const std::string& needle)
{
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                          [](char a, char b) {
                              return std::tolower(static_cast<unsigned char>(a)) ==
                                     std::tolower(static_cast<unsigned char>(b));
                          });
    return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

std::vector<std::string> appendPieces()
{
    std::vector<std::string> pieces;
    for (int i = 0; i < 10000; ++i)
        pieces.push_back("piece-" + std::to_string(i * 7919 % 100000) + "-abc");
    return pieces;
}

void Tq_IndexOf(benchmark::State& state)
{
    TqString text(searchText().c_str()), needle("needle!");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.IndexOf(needle, 0));
}
void Std_IndexOf(benchmark::State& state)
{
    const std::string& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find("needle!"));
}
void Tq_IndexLastOf(benchmark::State& state)
{
    TqString text(searchTextLast().c_str()), needle("needle!");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.IndexLastOf(needle));
}
void Std_IndexLastOf(benchmark::State& state)
{
    const std::string& text = searchTextLast();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.rfind("needle!"));
}
void Tq_IndexOfIgnoreCase(benchmark::State& state)
{
    TqString text(searchText().c_str()), needle("NEEDLE!");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.IndexOfIgnoreCase(needle, 0));
}
void Std_IndexOfIgnoreCase(benchmark::State& state)
{
    const std::string& text = searchText();
    for (auto _ : state)
        benchmark::DoNotOptimize(stdFindIgnoreCase(text, "NEEDLE!"));
}
void Tq_Replace(benchmark::State& state)
{
    TqString text(piecesText().c_str()), from(";"), to("<>");
    for (auto _ : state)
        benchmark::DoNotOptimize(text.Replace(from, to).Size());
}
void Std_Replace(benchmark::State& state)
{
    const std::string& text = piecesText();
    for (auto _ : state)
        benchmark::DoNotOptimize(stdReplace<std::string>(text, ";", "<>").size());
}
void Tq_Split(benchmark::State& state)
{
    TqString text(piecesText().c_str()), separator(";");
    for (auto _ : state)
        benchmark::DoNotOptimize(StringLibrary::Split(text, separator, true).size());
}
void Std_Split(benchmark::State& state)
{
    const std::string& text = piecesText();
    for (auto _ : state)
        benchmark::DoNotOptimize(stdSplit<std::string>(text, ";").size());
}
void Tq_Append(benchmark::State& state)
{
    static const std::vector<std::string> pieces = appendPieces();
    std::vector<TqString> tqPieces;
    for (const std::string& piece : pieces)
        tqPieces.emplace_back(piece.c_str());
    for (auto _ : state)
    {
        TqString built;
        for (const TqString& piece : tqPieces)
            built += piece;
        benchmark::DoNotOptimize(built.Size());
    }
}
void Std_Append(benchmark::State& state)
{
    static const std::vector<std::string> pieces = appendPieces();
    for (auto _ : state)
    {
        std::string built;
        for (const std::string& piece : pieces)
            built.append(piece);
        benchmark::DoNotOptimize(built.size());
    }
}

} // namespace

PAIRED_BENCHMARK(IndexOf);
PAIRED_BENCHMARK(IndexLastOf);
PAIRED_BENCHMARK(IndexOfIgnoreCase);
PAIRED_BENCHMARK(Replace);
PAIRED_BENCHMARK(Split);
PAIRED_BENCHMARK(Append);

int main(int argc, char** argv)
{
    return RunPairedBenchmarks(
        argc, argv, "TqString / std::string, median CPU time (target: at most 2, Append at most 3)",
        {"IndexOf", "IndexLastOf", "IndexOfIgnoreCase", "Replace", "Split", "Append"});
}
