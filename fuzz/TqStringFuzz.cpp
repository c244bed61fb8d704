// Runs the narrow string's operations on arbitrary bytes and checks each result against a plain
// std::string model of the same operation. Any difference aborts, so libFuzzer keeps the input.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "StringLibrary.h"
#include "TqString.h"

namespace
{

const unsigned long notFound = TqString::maxLen;

[[noreturn]] void fail(const char* what, const std::string& text)
{
    std::fprintf(stderr, "TqString differs from the model in %s (text of %zu bytes)\n", what, text.size());
    std::abort();
}

void check(bool holds, const char* what, const std::string& text)
{
    if (!holds)
        fail(what, text);
}

std::string bytesOf(const TqString& s)
{
    return s.Size() ? std::string(s.ConstData(), s.Size()) : std::string();
}

TqString make(const std::string& s)
{
    return TqString(s.data(), s.size());
}

// The invariants every string keeps: set exactly when not empty, a NUL after the content, a
// buffer exactly when there is content.
void checkShape(const TqString& s, const std::string& expected, const char* what)
{
    check(s.Size() == expected.size(), what, expected);
    check(s.IsSet() == !expected.empty() && s.IsEmpty() == expected.empty(), what, expected);
    check(bytesOf(s) == expected, what, expected);
    check(s.ConstData() != nullptr && s.ConstData()[s.Size()] == '\0', what, expected);
    check((s.Data() != nullptr) == !expected.empty(), what, expected);
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string lowered(std::string s)
{
    for (char& c : s)
        c = lowerAscii(c);
    return s;
}

std::string uppered(std::string s)
{
    for (char& c : s)
        c = upperAscii(c);
    return s;
}

// The forward search as stated: nothing when the needle is longer or start is past the end; an
// empty needle is found at start.
unsigned long modelIndexOf(const std::string& text, const std::string& needle, unsigned long start)
{
    if (needle.size() > text.size() || start >= text.size())
        return notFound;
    const size_t at = text.find(needle, start);
    return at == std::string::npos ? notFound : at;
}

unsigned long modelIndexLastOf(const std::string& text, const std::string& needle)
{
    if (needle.size() > text.size())
        return notFound;
    const size_t at = text.rfind(needle);
    return at == std::string::npos ? notFound : at;
}

bool modelEndsWith(const std::string& text, const std::string& needle)
{
    return !needle.empty() && needle.size() <= text.size() &&
           text.compare(text.size() - needle.size(), needle.size(), needle) == 0;
}

std::string modelSubstr(const std::string& text, unsigned long position, unsigned long count)
{
    if (position >= text.size())
        return std::string();
    return text.substr(position, count == notFound ? std::string::npos : count);
}

// Left to right, without overlap, the inserted text never searched again; an empty searched text
// leaves the text as it is.
std::string modelReplace(const std::string& text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    std::string result = text;
    unsigned long p = modelIndexOf(result, from, 0);
    while (p < result.size())
    {
        result = result.substr(0, p) + to + result.substr(p + from.size());
        p = modelIndexOf(result, from, p + to.size());
    }
    return result;
}

std::vector<std::string> modelSplit(const std::string& text, const std::string& separator, bool skipEmpty)
{
    std::vector<std::string> pieces;
    if (separator.empty())
    {
        if (!text.empty())
            pieces.push_back(text);
        return pieces;
    }
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start))
    {
        if (!skipEmpty || at > start)
            pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    if (start < text.size())
        pieces.push_back(text.substr(start));
    return pieces;
}

bool modelLess(const std::string& a, const std::string& b)
{
    if (a.size() == b.size() && !a.empty())
        return std::memcmp(a.data(), b.data(), a.size()) < 0;
    return a.size() > b.size();
}

void checkSearches(const std::string& text, const std::string& needle, unsigned long start)
{
    const TqString s = make(text);
    const TqString w = make(needle);
    check(s.IndexOf(w, start) == modelIndexOf(text, needle, start), "IndexOf", text);
    check(s.IndexOfIgnoreCase(w, start) == modelIndexOf(lowered(text), lowered(needle), start),
          "IndexOfIgnoreCase", text);
    check(s.IndexLastOf(w) == modelIndexLastOf(text, needle), "IndexLastOf", text);
    check(s.IndexLastOfIgnoreCase(w) == modelIndexLastOf(lowered(text), lowered(needle)),
          "IndexLastOfIgnoreCase", text);
    check(s.EndsWith(w) == modelEndsWith(text, needle), "EndsWith", text);
    check(s.HasOf(s.IndexOf(w, start)) == (modelIndexOf(text, needle, start) != notFound), "HasOf", text);
}

void checkComparisons(const std::string& a, const std::string& b)
{
    const TqString x = make(a);
    const TqString y = make(b);
    check(x.Equals(y) == (a == b) && (x == y) == (a == b), "Equals", a);
    check(x.EqualsIgnoreCase(y) == (lowered(a) == lowered(b)), "EqualsIgnoreCase", a);
    check((x < y) == modelLess(a, b), "operator<", a);
    check(!(x < x), "operator< of itself", a);
    // A strict weak order: never both ways round.
    check(!((x < y) && (y < x)), "operator< both ways", a);
}

void checkBuilding(const std::string& text, const std::string& other, unsigned long position,
                   unsigned long count)
{
    const TqString s = make(text);
    const TqString o = make(other);
    checkShape(s.Substr(position, count), modelSubstr(text, position, count), "Substr");
    checkShape(s.Substr(position, notFound), modelSubstr(text, position, notFound), "Substr to the end");
    checkShape(s + o, text + other, "operator+");

    TqString grown = s;
    grown += o;
    checkShape(grown, text + other, "operator+=");
    grown.Append(grown);
    checkShape(grown, text + other + text + other, "Append of itself");

    TqString copy = s;
    const TqString& sameString = copy;
    copy = sameString;
    checkShape(copy, text, "assignment to itself");
    TqString moved(std::move(copy));
    checkShape(moved, text, "move construction");
    checkShape(copy, std::string(), "moved-from string");

    checkShape(s.ToLower(), lowered(text), "ToLower");
    checkShape(s.ToUpper(), uppered(text), "ToUpper");
    checkShape(s.ToUTF8(), text, "ToUTF8");
    for (unsigned long i = 0; i <= text.size() + 1; ++i)
        check(s[i] == (i < text.size() ? text[i] : '\0'), "operator[]", text);

    // A C text stops at its first NUL.
    const std::string upToNul(text.c_str());
    checkShape(TqString(text.c_str()), upToNul, "construction from a C text");
    TqString viaPlus = s;
    viaPlus += other.c_str();
    checkShape(viaPlus, text + std::string(other.c_str()), "operator+= of a C text");

    TqString formatted;
    formatted.FromFormat(TqString("%s"), text.c_str());
    checkShape(formatted, upToNul.substr(0, 510), "FromFormat");
}

void checkReplaceAndSplit(const std::string& text, const std::string& from, const std::string& to)
{
    const TqString s = make(text);
    checkShape(s.Replace(make(from), make(to)), modelReplace(text, from, to), "Replace");
    for (bool skipEmpty : {false, true})
    {
        const Vector<TqString> pieces = StringLibrary::Split(s, make(from), skipEmpty);
        const std::vector<std::string> expected = modelSplit(text, from, skipEmpty);
        check(pieces.size() == expected.size(), "Split count", text);
        for (size_t i = 0; i < pieces.size(); ++i)
            checkShape(pieces[i], expected[i], "Split piece");
    }
}

// The text after white space and a sign starts a plain decimal number, where sscanf and strtod
// agree on what they read (hexadecimal and inf/nan prefixes differ in how a cut-off text fails).
bool plainDecimal(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    if (*text == '+' || *text == '-')
        ++text;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return false;
    return (*text >= '0' && *text <= '9') || *text == '.';
}

void checkNumbers(const std::string& text)
{
    const TqString s = make(text);
    const char* c = text.c_str();
    char* end = nullptr;

    const long longValue = std::strtol(c, &end, 10);
    check(s.GetLong(-7) == (text.empty() || end == c ? -7 : longValue), "GetLong", text);

    const unsigned long unsignedValue = std::strtoul(c, &end, 10);
    check(s.GetULong(7) == (text.empty() || end == c ? 7 : unsignedValue), "GetULong", text);

    const double got = s.GetDouble(2.5);
    if (plainDecimal(c))
    {
        const double value = std::strtod(c, &end);
        const double expected = end == c ? 2.5 : value;
        check(got == expected || (std::isnan(got) && std::isnan(expected)), "GetDouble", text);
    }
    else if (text.empty())
    {
        check(got == 2.5, "GetDouble of the empty text", text);
    }

    bool outcome = true;
    const _GUID guid = s.GetGUID(&outcome);
    if (!outcome)
    {
        static const _GUID zero = {};
        check(std::memcmp(&guid, &zero, sizeof guid) == 0, "GetGUID failure record", text);
    }
}

void checkValueTexts(FuzzedDataProvider& data)
{
    const int i = data.ConsumeIntegral<int>();
    const unsigned int u = data.ConsumeIntegral<unsigned int>();
    const double d = data.ConsumeFloatingPoint<double>();
    TqString s;
    checkShape(s.FromInt(i), std::to_string(i), "FromInt");
    checkShape(s.FromDword(u), std::to_string(u), "FromDword");
    char printed[512];
    if (std::isfinite(d) && std::fabs(d) < 1e21)
    {
        std::snprintf(printed, sizeof printed, "%f", d);
        checkShape(s.FromDouble(d), printed, "FromDouble");
    }
    else
    {
        s.FromDouble(d);
    }

    _GUID guid;
    guid.part1 = data.ConsumeIntegral<uint32_t>();
    guid.part2 = data.ConsumeIntegral<uint16_t>();
    guid.part3 = data.ConsumeIntegral<uint16_t>();
    for (unsigned char& b : guid.bytes)
        b = data.ConsumeIntegral<unsigned char>();
    s.FromGUID(guid);
    check(s.Size() == 36, "FromGUID length", bytesOf(s));
    bool outcome = false;
    const _GUID back = s.GetGUID(&outcome);
    check(outcome && std::memcmp(&back, &guid, sizeof guid) == 0, "GUID round trip", bytesOf(s));
}

void checkPlatformString(const std::string& text)
{
    const TqString s = make(text);
    CFStringRef platform = s.CreateCFString();
    if (!platform)
        return;
    TqString back;
    back.FromCFString(platform);
    CFRelease(platform);
    // The platform string holds the text up to its first NUL.
    checkShape(back, std::string(text.c_str()), "FromCFString of CreateCFString");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const unsigned long position = data.ConsumeIntegral<uint8_t>();
    const uint8_t countByte = data.ConsumeIntegral<uint8_t>();
    const unsigned long count = countByte == 0xFF ? notFound : countByte;
    const std::string needle = data.ConsumeRandomLengthString(16);
    const std::string replacement = data.ConsumeRandomLengthString(16);
    const std::string text = data.ConsumeRemainingBytesAsString();

    checkShape(make(text), text, "construction with a count");
    checkSearches(text, needle, position);
    checkSearches(text, needle, 0);
    checkComparisons(text, needle);
    checkComparisons(needle, text);
    checkComparisons(text, text);
    checkBuilding(text, needle, position, count);
    checkReplaceAndSplit(text, needle, replacement);
    checkNumbers(text);
    checkNumbers(needle);
    checkPlatformString(text);

    FuzzedDataProvider values(bytes, size);
    checkValueTexts(values);
    return 0;
}
