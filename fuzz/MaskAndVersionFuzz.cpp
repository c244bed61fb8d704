// Reads arbitrary bytes as a features mask (TqBitSet::fromString) and as a version text
// (TqVersion), and checks both, and the version's text form and packed number, against small
// models written from the stated rules. Any difference aborts, so libFuzzer keeps the input.

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "TqBitSet.h"
#include "TqVersion.h"

namespace
{

[[noreturn]] void fail(const char* what, const std::string& text)
{
    std::fprintf(stderr, "%s differs from the model (text of %zu bytes)\n", what, text.size());
    std::abort();
}

void check(bool holds, const char* what, const std::string& text)
{
    if (!holds)
        fail(what, text);
}

bool isBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One piece of up to eight characters: counted when it is blanks followed by hexadecimal digits
// and nothing else. A sign or an "x" makes the stream's own prefix rules apply; the model then
// leaves the piece undecided (false return) and only the general invariants are checked.
bool modelPiece(const std::string& piece, bool& counts, uint32_t& value)
{
    for (char c : piece)
        if (c == '+' || c == '-' || c == 'x' || c == 'X')
            return false;
    size_t i = 0;
    while (i < piece.size() && isBlank(piece[i]))
        ++i;
    counts = i < piece.size();
    value = 0;
    for (; i < piece.size(); ++i)
    {
        const int digit = hexValue(piece[i]);
        if (digit < 0)
        {
            counts = false;
            break;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return true;
}

void checkMask(const std::string& text)
{
    TqBitSet mask;
    const bool produced = mask.fromString(TqString(text.data(), text.size()));
    check(produced == (mask.Size() > 0), "fromString result", text);
    check(mask.Size() % 32 == 0, "mask size", text);
    check(mask.Size() <= 32 * ((text.size() + 7) / 8), "mask size bound", text);
    check(!mask.Test(mask.Size()) && !mask.Test(TqString::maxLen), "bit beyond the end", text);

    std::vector<bool> expected;
    for (size_t end = text.size(); end > 0;)
    {
        const size_t start = end > 8 ? end - 8 : 0;
        bool counts = false;
        uint32_t value = 0;
        if (!modelPiece(text.substr(start, end - start), counts, value))
            return;
        if (counts)
            for (int bit = 0; bit < 32; ++bit)
                expected.push_back(((value >> bit) & 1u) != 0);
        end = start;
    }
    check(mask.bits == expected, "features mask bits", text);

    // A copy holds the same bits; reading again replaces them.
    TqBitSet copy = mask;
    check(copy.bits == mask.bits, "mask copy", text);
    copy.fromString(TqString("1"));
    check(copy.Size() == 32 && copy.Test(0) && !copy.Test(1), "mask read again", text);
}

// "%d.%d.%d.%d" read up to the first part that does not match. False when a number does not fit
// an int: sscanf's result is then the C library's own, and only the invariants apply.
bool modelVersion(const std::string& text, int parts[4])
{
    const char* p = text.c_str();
    for (int k = 0; k < 4; ++k)
        parts[k] = 0;
    for (int k = 0; k < 4; ++k)
    {
        if (k > 0)
        {
            if (*p != '.')
                break;
            ++p;
        }
        while (isBlank(*p))
            ++p;
        bool negative = false;
        if (*p == '+' || *p == '-')
            negative = *p++ == '-';
        if (*p < '0' || *p > '9')
            break;
        long long value = 0;
        for (; *p >= '0' && *p <= '9'; ++p)
        {
            value = value * 10 + (*p - '0');
            if (value > static_cast<long long>(INT_MAX) + 1)
                return false;
        }
        value = negative ? -value : value;
        if (value > INT_MAX || value < INT_MIN)
            return false;
        parts[k] = static_cast<int>(value);
    }
    if (parts[2] > 100000 && parts[3] == 0)
    {
        parts[3] = parts[2];
        parts[2] = 0;
    }
    return true;
}

std::string digitsOf(const TqVersion& v, bool productForm)
{
    if (productForm)
        return std::to_string(v.major) + std::to_string(v.minor) + std::to_string(v.build);
    return std::to_string(v.major) + std::to_string(v.minor) + std::to_string(v.revision) +
           std::to_string(v.build);
}

// The packed number: the text form without its dots, read as an unsigned decimal number.
unsigned int modelPacked(const TqVersion& v, bool productForm)
{
    const std::string digits = digitsOf(v, productForm);
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 10);
    if (end == digits.c_str())
        return 0u;
    return digits[0] != '-' && value > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(value);
}

std::string textOf(const TqString& s)
{
    return s.Size() ? std::string(s.ConstData(), s.Size()) : std::string();
}

void checkVersionText(const TqVersion& v, const std::string& input)
{
    const std::string full = std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                             std::to_string(v.revision) + "." + std::to_string(v.build);
    const std::string product =
        std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
    check(textOf(v.ToString(false)) == full, "ToString(false)", input);
    check(textOf(v.ToString(true)) == product, "ToString(true)", input);
    check(v.ToUInt(false) == modelPacked(v, false), "ToUInt(false)", input);
    check(v.ToUInt(true) == modelPacked(v, true), "ToUInt(true)", input);
}

void checkOrder(const TqVersion& a, const TqVersion& b, const std::string& input)
{
    const auto ta = std::tie(a.major, a.minor, a.revision, a.build);
    const auto tb = std::tie(b.major, b.minor, b.revision, b.build);
    check((a == b) == (ta == tb), "operator==", input);
    check((a < b) == (ta < tb), "operator<", input);
    check((a > b) == (ta > tb), "operator>", input);
    check((a <= b) == ((a < b) || (a == b)), "operator<=", input);
    check((a >= b) == ((a > b) || (a == b)), "operator>=", input);
    check(a.IsValid() == (a.major != 0 || a.minor != 0 || a.revision != 0 || a.build != 0), "IsValid", input);
}

void checkVersion(const std::string& text, FuzzedDataProvider& data)
{
    const TqVersion parsed{TqString(text.data(), text.size())};
    int parts[4];
    if (modelVersion(text, parts))
    {
        check(parsed.major == parts[0] && parsed.minor == parts[1] && parsed.revision == parts[2] &&
                  parsed.build == parts[3],
              "version parsing", text);
    }
    // A parsed version never has the build in third place, so its full text reads back the same.
    check(TqVersion(parsed.ToString(false)) == parsed, "version text round trip", text);
    checkVersionText(parsed, text);

    const int major = data.ConsumeIntegral<int>();
    const int minor = data.ConsumeIntegral<int>();
    const int revision = data.ConsumeIntegral<int>();
    const int build = data.ConsumeIntegral<int>();
    const TqVersion built(major, minor, revision, build);
    checkVersionText(built, text);
    checkOrder(parsed, built, text);
    checkOrder(built, parsed, text);
    checkOrder(built, built, text);

    const TqProductVersion release = {major, minor, build};
    const TqVersion fromRelease(release);
    check(fromRelease == TqVersion(major, minor, 0, build), "version from a product version", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    checkMask(text);
    FuzzedDataProvider data(bytes, size);
    checkVersion(text, data);
    return 0;
}
