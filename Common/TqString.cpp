#include "TqString.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// The whole buffer life is on malloc/realloc/free, so that Append can grow a buffer in place
// while it stays exactly length + 1 bytes long.

namespace
{
const char emptyText[1] = "";

inline unsigned char foldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

inline unsigned char upperAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

bool equalBytesIgnoreCase(const char* a, const char* b, unsigned long count)
{
    for (unsigned long i = 0; i < count; ++i)
        if (foldAscii(static_cast<unsigned char>(a[i])) != foldAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// First position at or after start where needle (not empty) matches, ignoring ASCII case.
unsigned long findIgnoreCase(const char* hay, unsigned long hayLength, const char* needle,
                             unsigned long needleLength, unsigned long start)
{
    const unsigned char first = foldAscii(static_cast<unsigned char>(needle[0]));
    const unsigned long last = hayLength - needleLength;
    for (unsigned long i = start; i <= last; ++i)
    {
        if (foldAscii(static_cast<unsigned char>(hay[i])) == first &&
            equalBytesIgnoreCase(hay + i + 1, needle + 1, needleLength - 1))
            return i;
    }
    return TqString::maxLen;
}

// Last position where needle (not empty) matches exactly or ignoring ASCII case.
unsigned long findLast(const char* hay, unsigned long hayLength, const char* needle,
                       unsigned long needleLength, bool ignoreCase)
{
    const unsigned char first = static_cast<unsigned char>(needle[0]);
    unsigned long i = hayLength - needleLength + 1;
    while (i-- > 0)
    {
        const unsigned char c = static_cast<unsigned char>(hay[i]);
        if (ignoreCase ? foldAscii(c) == foldAscii(first) &&
                             equalBytesIgnoreCase(hay + i + 1, needle + 1, needleLength - 1)
                       : c == first && std::memcmp(hay + i + 1, needle + 1, needleLength - 1) == 0)
            return i;
    }
    return TqString::maxLen;
}
} // namespace

TqString::TqString() : length(0), buffer(nullptr) {}

TqString::TqString(const char* text, unsigned long count) : length(0), buffer(nullptr)
{
    if (text && count == maxLen)
        count = std::strlen(text);
    init(text, count);
}

TqString::TqString(char* text, unsigned long count) : TqString(static_cast<const char*>(text), count) {}

TqString::TqString(const TqString& other) : length(0), buffer(nullptr)
{
    init(other.buffer, other.length);
}

// Moving hands the buffer over; the source is left empty, as after Clear.
TqString::TqString(TqString&& other) noexcept : length(other.length), buffer(other.buffer)
{
    other.length = 0;
    other.buffer = nullptr;
}

TqString& TqString::operator=(TqString&& other) noexcept
{
    if (this != &other)
    {
        std::free(buffer);
        length = other.length;
        buffer = other.buffer;
        other.length = 0;
        other.buffer = nullptr;
    }
    return *this;
}

TqString& TqString::operator=(const TqString& other)
{
    if (this != &other)
        init(other.buffer, other.length);
    return *this;
}

TqString::~TqString()
{
    std::free(buffer);
}

void TqString::init(const char* text, unsigned long count)
{
    // The new block is filled before the old one goes, so text may lie in our own buffer.
    char* fresh = nullptr;
    if (text && count != 0 && count != maxLen)
    {
        fresh = static_cast<char*>(std::malloc(count + 1));
        if (fresh)
        {
            std::memcpy(fresh, text, count);
            fresh[count] = '\0';
        }
    }
    std::free(buffer);
    buffer = fresh;
    length = fresh ? count : 0;
}

void TqString::Clear()
{
    std::free(buffer);
    buffer = nullptr;
    length = 0;
}

const char* TqString::ConstData() const
{
    return length > 0 ? buffer : emptyText;
}

char TqString::operator[](unsigned long position) const
{
    return position < length ? buffer[position] : '\0';
}

bool TqString::Equals(const TqString& other) const
{
    return length == other.length && (length == 0 || std::memcmp(buffer, other.buffer, length) == 0);
}

bool TqString::EqualsIgnoreCase(const TqString& other) const
{
    return length == other.length && (length == 0 || equalBytesIgnoreCase(buffer, other.buffer, length));
}

bool TqString::operator<(const TqString& other) const
{
    if (length == other.length && length != 0)
        return std::memcmp(buffer, other.buffer, length) < 0;
    return length > other.length;
}

void TqString::appendBytes(const char* text, unsigned long count)
{
    if (!text || count == 0 || count > maxLen - 1 - length)
        return;
    // text may lie inside our own buffer (appending a string to itself): keep its offset, since
    // realloc may move the block.
    const bool inside = buffer && text >= buffer && text <= buffer + length;
    const unsigned long offset = inside ? static_cast<unsigned long>(text - buffer) : 0;
    char* grown = static_cast<char*>(std::realloc(buffer, length + count + 1));
    if (!grown)
        return;
    std::memcpy(grown + length, inside ? grown + offset : text, count);
    buffer = grown;
    length += count;
    buffer[length] = '\0';
}

void TqString::Append(const TqString& other)
{
    appendBytes(other.buffer, other.length);
}

TqString& TqString::operator+=(const TqString& other)
{
    Append(other);
    return *this;
}

TqString& TqString::operator+=(const char* text)
{
    if (text)
        appendBytes(text, std::strlen(text));
    return *this;
}

TqString TqString::operator+(const TqString& other) const
{
    TqString result(*this);
    result.Append(other);
    return result;
}

TqString TqString::operator+(const char* text) const
{
    TqString result(*this);
    result += text;
    return result;
}

TqString TqString::Substr(unsigned long position, unsigned long count) const
{
    if (position >= length)
        return TqString();
    return TqString(buffer + position, std::min(count, length - position));
}

TqString TqString::Replace(const TqString& from, const TqString& to) const
{
    // One pass, left to right, without overlap; the inserted text is never searched again.
    if (from.length == 0 || length == 0)
        return *this;
    std::vector<char> out;
    unsigned long copied = 0;
    unsigned long found = IndexOf(from, 0);
    if (found == maxLen)
        return *this;
    out.reserve(length);
    while (found != maxLen)
    {
        out.insert(out.end(), buffer + copied, buffer + found);
        out.insert(out.end(), to.buffer, to.buffer + to.length);
        copied = found + from.length;
        found = IndexOf(from, copied);
    }
    out.insert(out.end(), buffer + copied, buffer + length);
    TqString result;
    result.init(out.data(), out.size());
    return result;
}

TqString TqString::ToLower() const
{
    TqString result(*this);
    for (unsigned long i = 0; i < result.length; ++i)
        result.buffer[i] = static_cast<char>(foldAscii(static_cast<unsigned char>(result.buffer[i])));
    return result;
}

TqString TqString::ToUpper() const
{
    TqString result(*this);
    for (unsigned long i = 0; i < result.length; ++i)
        result.buffer[i] = static_cast<char>(upperAscii(static_cast<unsigned char>(result.buffer[i])));
    return result;
}

TqString TqString::ToUTF8() const
{
    return *this;
}

unsigned long TqString::IndexOf(const TqString& text, unsigned long start) const
{
    if (text.length > length || start >= length)
        return maxLen;
    if (text.length == 0)
        return start;
    // One byte is the common case (separators): memchr beats memmem's set-up on short runs.
    const void* hit = text.length == 1 ? std::memchr(buffer + start, text.buffer[0], length - start)
                                       : memmem(buffer + start, length - start, text.buffer, text.length);
    return hit ? static_cast<unsigned long>(static_cast<const char*>(hit) - buffer) : maxLen;
}

unsigned long TqString::IndexOfIgnoreCase(const TqString& text, unsigned long start) const
{
    if (text.length > length || start >= length)
        return maxLen;
    if (text.length == 0)
        return start;
    return findIgnoreCase(buffer, length, text.buffer, text.length, start);
}

unsigned long TqString::IndexLastOf(const TqString& text) const
{
    if (text.length > length)
        return maxLen;
    if (text.length == 0)
        return length;
    return findLast(buffer, length, text.buffer, text.length, false);
}

unsigned long TqString::IndexLastOfIgnoreCase(const TqString& text) const
{
    if (text.length > length)
        return maxLen;
    if (text.length == 0)
        return length;
    return findLast(buffer, length, text.buffer, text.length, true);
}

bool TqString::EndsWith(const TqString& text) const
{
    return text.length != 0 && text.length <= length &&
           std::memcmp(buffer + length - text.length, text.buffer, text.length) == 0;
}

long TqString::GetLong(long defaultValue) const
{
    long value = 0;
    if (length == 0 || std::sscanf(buffer, "%ld", &value) < 1)
        return defaultValue;
    return value;
}

unsigned long TqString::GetULong(unsigned long defaultValue) const
{
    unsigned long value = 0;
    if (length == 0 || std::sscanf(buffer, "%lu", &value) < 1)
        return defaultValue;
    return value;
}

double TqString::GetDouble(double defaultValue) const
{
    double value = defaultValue;
    if (length != 0)
        (void)std::sscanf(buffer, "%lf", &value);
    return value;
}

_GUID TqString::GetGUID(bool* outcome) const
{
    _GUID guid = {};
    bool ok = false;
    unsigned int n[11];
    if (length != 0 && std::sscanf(buffer, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &n[0], &n[1], &n[2],
                                   &n[3], &n[4], &n[5], &n[6], &n[7], &n[8], &n[9], &n[10]) == 11)
    {
        guid.part1 = n[0];
        guid.part2 = static_cast<uint16_t>(n[1]);
        guid.part3 = static_cast<uint16_t>(n[2]);
        for (int i = 0; i < 8; ++i)
            guid.bytes[i] = static_cast<unsigned char>(n[3 + i]);
        ok = true;
    }
    if (outcome)
        *outcome = ok;
    return guid;
}

TqString& TqString::FromInt(int value)
{
    char text[30] = {};
    (void)std::snprintf(text, sizeof text, "%d", value);
    init(text, std::strlen(text));
    return *this;
}

TqString& TqString::FromDword(unsigned int value)
{
    char text[30] = {};
    (void)std::snprintf(text, sizeof text, "%u", value);
    init(text, std::strlen(text));
    return *this;
}

TqString& TqString::FromDouble(double value)
{
    // "%f" of a large magnitude runs to hundreds of digits: measure first, then print whole.
    const int needed = std::snprintf(nullptr, 0, "%f", value);
    if (needed <= 0)
    {
        Clear();
        return *this;
    }
    std::vector<char> text(static_cast<size_t>(needed) + 1);
    (void)std::snprintf(text.data(), text.size(), "%f", value);
    init(text.data(), static_cast<unsigned long>(needed));
    return *this;
}

TqString& TqString::FromGUID(const _GUID& guid)
{
    char text[64] = {};
    (void)std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.part1,
                        guid.part2, guid.part3, guid.bytes[0], guid.bytes[1], guid.bytes[2], guid.bytes[3],
                        guid.bytes[4], guid.bytes[5], guid.bytes[6], guid.bytes[7]);
    init(text, std::strlen(text));
    return *this;
}

TqString& TqString::FromFormat(TqString format, ...)
{
    // Arguments may point into this string's own buffer: format first, then replace it.
    if (format.length == 0)
    {
        Clear();
        return *this;
    }
    char text[512] = {};
    va_list arguments;
    va_start(arguments, format);
    (void)std::vsnprintf(text, 511, format.buffer, arguments);
    va_end(arguments);
    init(text, std::strlen(text));
    return *this;
}

CFStringRef TqString::CreateCFString() const
{
    return CFStringCreateWithCString(nullptr, ConstData(), kCFStringEncodingUTF8);
}

TqString& TqString::FromCFString(CFStringRef string)
{
    Clear();
    if (!string)
        return *this;
    const CFIndex units = CFStringGetLength(string);
    if (units <= 0)
        return *this;
    const CFIndex size = CFStringGetMaximumSizeForEncoding(units, kCFStringEncodingUTF8) + 1;
    char* text = static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
    if (!text)
        return *this;
    if (!CFStringGetCString(string, text, size, kCFStringEncodingUTF8))
    {
        // A failed conversion keeps an empty text in a buffer of its own.
        text[0] = '\0';
        buffer = text;
        return *this;
    }
    const unsigned long count = std::strlen(text);
    char* exact = static_cast<char*>(std::realloc(text, count + 1));
    buffer = exact ? exact : text;
    length = count;
    return *this;
}
