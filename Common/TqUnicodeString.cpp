#include "TqUnicodeString.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <new>
#include <type_traits>

namespace
{

// What ConstData hands out for a string without content.
const wchar_t sharedEmptyText[1] = {L'\0'};

// Above this many elements an array size would not fit the address space; treated as a failed
// allocation rather than left to the new-expression.
const unsigned long maxElements = PTRDIFF_MAX / sizeof(wchar_t) - 1;

// count characters and room for the nul behind them, or null.
wchar_t* allocateCharacters(unsigned long count)
{
    if (count > maxElements)
        return nullptr;
    return new (std::nothrow) wchar_t[count + 1];
}

wchar_t foldCase(wchar_t c)
{
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

// Every character is compared, including those behind an embedded nul: the length defines the value.
bool sameCharacters(const wchar_t* a, const wchar_t* b, unsigned long count)
{
    return count == 0 || std::wmemcmp(a, b, count) == 0;
}

bool sameCharactersIgnoreCase(const wchar_t* a, const wchar_t* b, unsigned long count)
{
    for (unsigned long i = 0; i < count; ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

bool isHighSurrogate(unsigned int unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(unsigned int unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

unsigned int readUnit(const unsigned char* bytes, unsigned long index, bool bigEndian)
{
    const unsigned int first = bytes[2 * index];
    const unsigned int second = bytes[2 * index + 1];
    return bigEndian ? (first << 8) | second : (second << 8) | first;
}

void writeUnit(char* bytes, unsigned long index, unsigned int unit, bool bigEndian)
{
    const char high = static_cast<char>((unit >> 8) & 0xFF);
    const char low = static_cast<char>(unit & 0xFF);
    bytes[2 * index] = bigEndian ? high : low;
    bytes[2 * index + 1] = bigEndian ? low : high;
}

} // namespace

TqUnicodeString::TqUnicodeString() : length(0), buffer(nullptr) {}

TqUnicodeString::TqUnicodeString(const TqUnicodeString& other) : length(0), buffer(nullptr)
{
    if (other.buffer)
        init(other.buffer, other.length);
}

TqUnicodeString::TqUnicodeString(TqUnicodeString&& other) noexcept
    : length(other.length), buffer(other.buffer)
{
    other.length = 0;
    other.buffer = nullptr;
}

TqUnicodeString::TqUnicodeString(const wchar_t* text, unsigned long count) : length(0), buffer(nullptr)
{
    if (text)
        init(text, count == maxLen ? std::wcslen(text) : count);
}

TqUnicodeString::TqUnicodeString(wchar_t* text, unsigned long count)
    : TqUnicodeString(static_cast<const wchar_t*>(text), count)
{
}

TqUnicodeString::TqUnicodeString(const char* text, unsigned long count) : length(0), buffer(nullptr)
{
    if (!text)
        return;
    TqUnicodeString converted = TqString(text, count).GetUnicode();
    init(converted.buffer, converted.length);
}

TqUnicodeString::~TqUnicodeString()
{
    delete[] buffer;
}

TqUnicodeString& TqUnicodeString::operator=(const TqUnicodeString& other)
{
    init(other.buffer, other.length);
    return *this;
}

TqUnicodeString& TqUnicodeString::operator=(TqUnicodeString&& other) noexcept
{
    if (this != &other)
    {
        delete[] buffer;
        length = other.length;
        buffer = other.buffer;
        other.length = 0;
        other.buffer = nullptr;
    }
    return *this;
}

void TqUnicodeString::init(const wchar_t* text, unsigned long count)
{
    // The new array is filled before the old one goes, so text may point into this string.
    wchar_t* array = nullptr;
    if (text && count != 0)
    {
        array = allocateCharacters(count);
        if (array)
        {
            std::wmemcpy(array, text, count);
            array[count] = L'\0';
        }
    }
    adopt(array, array ? count : 0);
}

void TqUnicodeString::adopt(wchar_t* array, unsigned long count)
{
    delete[] buffer;
    buffer = array;
    length = count;
}

void TqUnicodeString::Clear()
{
    adopt(nullptr, 0);
}

const wchar_t* TqUnicodeString::ConstData() const
{
    return length != 0 ? buffer : sharedEmptyText;
}

bool TqUnicodeString::Equals(const TqUnicodeString& other) const
{
    return length == other.length && sameCharacters(buffer, other.buffer, length);
}

bool TqUnicodeString::EqualsIgnoreCase(const TqUnicodeString& other) const
{
    return length == other.length && sameCharactersIgnoreCase(buffer, other.buffer, length);
}

bool TqUnicodeString::operator<(const TqUnicodeString& other) const
{
    if (length == other.length && length != 0)
        return std::wmemcmp(buffer, other.buffer, length) < 0;
    return length > other.length;
}

void TqUnicodeString::Append(const TqUnicodeString& other)
{
    if (other.length == 0 || other.length > maxElements - length)
        return;
    const unsigned long total = length + other.length;
    wchar_t* array = allocateCharacters(total);
    if (!array)
        return;
    // Both sources are read before the old buffer goes, so a string can append itself.
    if (length != 0)
        std::wmemcpy(array, buffer, length);
    std::wmemcpy(array + length, other.buffer, other.length);
    array[total] = L'\0';
    adopt(array, total);
}

TqUnicodeString& TqUnicodeString::operator+=(const TqUnicodeString& other)
{
    Append(other);
    return *this;
}

TqUnicodeString& TqUnicodeString::operator+=(const wchar_t* text)
{
    Append(TqUnicodeString(text));
    return *this;
}

TqUnicodeString TqUnicodeString::operator+(const TqUnicodeString& other) const
{
    TqUnicodeString result(*this);
    result.Append(other);
    return result;
}

TqUnicodeString TqUnicodeString::operator+(const wchar_t* text)
{
    TqUnicodeString result(*this);
    result += text;
    return result;
}

TqUnicodeString TqUnicodeString::Substr(unsigned long pos, unsigned long count) const
{
    TqUnicodeString result;
    if (pos < length)
    {
        const unsigned long rest = length - pos;
        result.init(buffer + pos, count < rest ? count : rest);
    }
    return result;
}

TqUnicodeString TqUnicodeString::Replace(const TqUnicodeString& from, const TqUnicodeString& to)
{
    if (from.length == 0)
        return *this;
    // Matches are counted first so that the result is built in one exactly sized array; the
    // scan resumes behind each match, which is where the inserted text would end.
    unsigned long matches = 0;
    for (unsigned long p = find(from, 0, false); p != maxLen; p = find(from, p + from.length, false))
        ++matches;
    if (matches == 0)
        return *this;
    const unsigned long kept = length - matches * from.length;
    if (to.length != 0 && matches > (maxElements - kept) / to.length)
        return TqUnicodeString();
    const unsigned long total = kept + matches * to.length;
    TqUnicodeString result;
    if (total == 0)
        return result;
    wchar_t* array = allocateCharacters(total);
    if (!array)
        return result;
    wchar_t* out = array;
    unsigned long copiedUpTo = 0;
    for (unsigned long p = find(from, 0, false); p != maxLen; p = find(from, p + from.length, false))
    {
        std::wmemcpy(out, buffer + copiedUpTo, p - copiedUpTo);
        out += p - copiedUpTo;
        if (to.length != 0)
            std::wmemcpy(out, to.buffer, to.length);
        out += to.length;
        copiedUpTo = p + from.length;
    }
    std::wmemcpy(out, buffer + copiedUpTo, length - copiedUpTo);
    array[total] = L'\0';
    result.adopt(array, total);
    return result;
}

TqUnicodeString TqUnicodeString::ToLower() const
{
    TqUnicodeString result(*this);
    for (unsigned long i = 0; i < result.length; ++i)
        result.buffer[i] = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(result.buffer[i])));
    return result;
}

TqUnicodeString TqUnicodeString::ToUpper() const
{
    TqUnicodeString result(*this);
    for (unsigned long i = 0; i < result.length; ++i)
        result.buffer[i] = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(result.buffer[i])));
    return result;
}

unsigned long TqUnicodeString::find(const TqUnicodeString& needle, unsigned long start, bool ignoreCase) const
{
    if (needle.length > length || start >= length)
        return maxLen;
    if (needle.length == 0)
        return start;
    const unsigned long last = length - needle.length;
    if (start > last)
        return maxLen;
    if (!ignoreCase)
    {
        // Jump between occurrences of the first character, then compare the rest in place.
        const wchar_t* candidate = buffer + start;
        const wchar_t* const end = buffer + last + 1;
        while (candidate < end)
        {
            candidate = std::wmemchr(candidate, needle.buffer[0], static_cast<size_t>(end - candidate));
            if (!candidate)
                return maxLen;
            if (sameCharacters(candidate + 1, needle.buffer + 1, needle.length - 1))
                return static_cast<unsigned long>(candidate - buffer);
            ++candidate;
        }
        return maxLen;
    }
    const wchar_t first = foldCase(needle.buffer[0]);
    for (unsigned long i = start; i <= last; ++i)
        if (foldCase(buffer[i]) == first &&
            sameCharactersIgnoreCase(buffer + i + 1, needle.buffer + 1, needle.length - 1))
            return i;
    return maxLen;
}

unsigned long TqUnicodeString::findLast(const TqUnicodeString& needle, bool ignoreCase) const
{
    if (needle.length > length)
        return maxLen;
    if (needle.length == 0)
        return length;
    const wchar_t first = ignoreCase ? foldCase(needle.buffer[0]) : needle.buffer[0];
    for (unsigned long i = length - needle.length + 1; i-- > 0;)
    {
        if (ignoreCase)
        {
            if (foldCase(buffer[i]) == first &&
                sameCharactersIgnoreCase(buffer + i + 1, needle.buffer + 1, needle.length - 1))
                return i;
        }
        else if (buffer[i] == first && sameCharacters(buffer + i + 1, needle.buffer + 1, needle.length - 1))
            return i;
    }
    return maxLen;
}

unsigned long TqUnicodeString::IndexOf(const TqUnicodeString& needle, unsigned long start) const
{
    return find(needle, start, false);
}

unsigned long TqUnicodeString::IndexOfIgnoreCase(const TqUnicodeString& needle, unsigned long start) const
{
    return find(needle, start, true);
}

unsigned long TqUnicodeString::IndexLastOf(const TqUnicodeString& needle) const
{
    return findLast(needle, false);
}

unsigned long TqUnicodeString::IndexLastOfIgnoreCase(const TqUnicodeString& needle) const
{
    return findLast(needle, true);
}

bool TqUnicodeString::EndsWith(const TqUnicodeString& suffix) const
{
    return suffix.length != 0 && suffix.length <= length &&
           sameCharacters(buffer + length - suffix.length, suffix.buffer, suffix.length);
}

long TqUnicodeString::GetLong(long defaultValue)
{
    long value = 0;
    if (length != 0 && std::swscanf(buffer, L"%ld", &value) > 0)
        return value;
    return defaultValue;
}

unsigned long TqUnicodeString::GetULong(unsigned long defaultValue)
{
    unsigned long value = 0;
    if (length != 0 && std::swscanf(buffer, L"%lu", &value) > 0)
        return value;
    return defaultValue;
}

double TqUnicodeString::GetDouble(double defaultValue)
{
    double value = defaultValue;
    if (length != 0)
        (void)std::swscanf(buffer, L"%lf", &value);
    return value;
}

TqUnicodeString& TqUnicodeString::FromInt(int value)
{
    wchar_t area[30] = {};
    (void)std::swprintf(area, 30, L"%d", value);
    init(area, std::wcslen(area));
    return *this;
}

TqUnicodeString& TqUnicodeString::FromDword(unsigned int value)
{
    wchar_t area[30] = {};
    (void)std::swprintf(area, 30, L"%u", value);
    init(area, std::wcslen(area));
    return *this;
}

TqUnicodeString& TqUnicodeString::FromDouble(double value)
{
    // Output that does not fit is cut to the area's first 29 characters.
    wchar_t area[30] = {};
    (void)std::swprintf(area, 30, L"%f", value);
    init(area, std::wcslen(area));
    return *this;
}

TqUnicodeString& TqUnicodeString::FromFormat(TqUnicodeString format, ...)
{
    // Arguments may point into this string's own buffer: format first, then replace it.
    if (format.length == 0)
    {
        Clear();
        return *this;
    }
    wchar_t area[512] = {};
    va_list arguments;
    va_start(arguments, format);
    (void)std::vswprintf(area, 511, format.buffer, arguments);
    va_end(arguments);
    init(area, std::wcslen(area));
    return *this;
}

TqString TqUnicodeString::toMultibyte(unsigned long bytesPerCharacter) const
{
    if (!buffer || length == 0 || length > (PTRDIFF_MAX - 1) / bytesPerCharacter)
        return TqString();
    const unsigned long capacity = bytesPerCharacter * length;
    char* bytes = new (std::nothrow) char[capacity + 1];
    if (!bytes)
        return TqString();
    // wcstombs stops at the first nul character and before a character that would not fit.
    const size_t produced = std::wcstombs(bytes, buffer, capacity);
    const bool converted = produced != 0 && produced != static_cast<size_t>(-1);
    TqString result(converted ? bytes : nullptr, converted ? produced : 0);
    delete[] bytes;
    return result;
}

TqString TqUnicodeString::GetMultibyteString() const
{
    return toMultibyte(2);
}

TqString TqUnicodeString::ToUTF8() const
{
    return toMultibyte(4);
}

void TqUnicodeString::FromUTF8(const char* text, unsigned long count)
{
    Clear();
    if (!text)
        return;
    const unsigned long bytes = std::strlen(text);
    if (count == maxLen)
        count = bytes;
    if (count == 0 || count > 2147483647UL)
        return;
    // A character takes at least one byte, so the text never yields more characters than bytes.
    const unsigned long capacity = count < bytes ? count : bytes;
    if (capacity == 0)
        return;
    wchar_t* array = allocateCharacters(capacity);
    if (!array)
        return;
    const size_t produced = std::mbstowcs(array, text, capacity);
    if (produced == 0 || produced == static_cast<size_t>(-1))
    {
        delete[] array;
        return;
    }
    array[produced] = L'\0';
    adopt(array, produced);
}

TqString TqUnicodeString::ToUTF16(bool bigEndian) const
{
    unsigned long units = 0;
    for (unsigned long i = 0; i < length; ++i)
    {
        const unsigned long c = static_cast<std::make_unsigned<wchar_t>::type>(buffer[i]);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return TqString();
        units += c > 0xFFFF ? 2 : 1;
    }
    if (units == 0 || units > (PTRDIFF_MAX - 1) / 2)
        return TqString();
    char* bytes = new (std::nothrow) char[2 * units];
    if (!bytes)
        return TqString();
    unsigned long unit = 0;
    for (unsigned long i = 0; i < length; ++i)
    {
        const unsigned long c = static_cast<std::make_unsigned<wchar_t>::type>(buffer[i]);
        if (c > 0xFFFF)
        {
            writeUnit(bytes, unit++, static_cast<unsigned int>(0xD800 + ((c - 0x10000) >> 10)), bigEndian);
            writeUnit(bytes, unit++, static_cast<unsigned int>(0xDC00 + ((c - 0x10000) & 0x3FF)), bigEndian);
        }
        else
            writeUnit(bytes, unit++, static_cast<unsigned int>(c), bigEndian);
    }
    TqString result(bytes, 2 * units);
    delete[] bytes;
    return result;
}

void TqUnicodeString::FromUTF16(void* data, bool bigEndian, unsigned long count)
{
    Clear();
    if (!data)
        return;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (count == maxLen)
        for (count = 0; readUnit(bytes, count, bigEndian) != 0;)
            ++count;
    if (count == 0)
        return;
    // Never more characters than units; decoded aside so that data may lie in this string.
    wchar_t* array = allocateCharacters(count);
    if (!array)
        return;
    unsigned long produced = 0;
    for (unsigned long i = 0; i < count; ++i)
    {
        const unsigned int unit = readUnit(bytes, i, bigEndian);
        if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(readUnit(bytes, i + 1, bigEndian)))
        {
            const unsigned int low = readUnit(bytes, ++i, bigEndian);
            array[produced++] = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        }
        else if (isHighSurrogate(unit) || isLowSurrogate(unit))
        {
            delete[] array;
            return;
        }
        else
            array[produced++] = static_cast<wchar_t>(unit);
    }
    init(array, produced);
    delete[] array;
}

// The narrow string's two wide-text members live here, beside the class they convert to.

TqString::TqString(const wchar_t* text, unsigned long count) : length(0), buffer(nullptr)
{
    if (!text)
        return;
    const TqString multibyte = TqUnicodeString(text, count).ToUTF8();
    init(multibyte.buffer, multibyte.length);
}

TqUnicodeString TqString::GetUnicode() const
{
    if (!buffer || length == 0 || length > maxElements)
        return TqUnicodeString();
    wchar_t* array = new (std::nothrow) wchar_t[length];
    if (!array)
        return TqUnicodeString();
    // At most length characters are written; nothing of the array is read when the text does
    // not convert.
    const size_t produced = std::mbstowcs(array, buffer, length);
    TqUnicodeString result;
    if (produced != 0 && produced != static_cast<size_t>(-1))
        result = TqUnicodeString(array, produced);
    delete[] array;
    return result;
}
