#ifndef TQ_BENCH_STDSTRINGWORK_H
#define TQ_BENCH_STDSTRINGWORK_H

// The obvious standard-library code for the work the string benchmarks measure, for narrow and
// wide strings alike.

#include <string>
#include <vector>

// Every occurrence of from replaced by to, left to right, in one linear pass.
template <typename String> String stdReplace(const String& text, const String& from, const String& to)
{
    String out;
    out.reserve(text.size());
    size_t copied = 0;
    for (size_t p = text.find(from); p != String::npos; p = text.find(from, copied))
    {
        out.append(text, copied, p - copied).append(to);
        copied = p + from.size();
    }
    return out.append(text, copied, String::npos);
}

// The non-empty pieces between separators, found with find.
template <typename String> std::vector<String> stdSplit(const String& text, const String& separator)
{
    std::vector<String> pieces;
    size_t start = 0;
    for (size_t p = text.find(separator); p != String::npos; p = text.find(separator, start))
    {
        if (p > start)
            pieces.emplace_back(text, start, p - start);
        start = p + separator.size();
    }
    if (start < text.size())
        pieces.emplace_back(text, start);
    return pieces;
}

#endif
