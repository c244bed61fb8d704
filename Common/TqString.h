#ifndef TQ_TQSTRING_H
#define TQ_TQSTRING_H

#include <cstdint>

#include "CoreFoundationStrings.h"

class TqUnicodeString;

// The 16-byte identifier record, read and written in its 8-4-4-4-12 text form.
struct _GUID
{
    uint32_t part1;
    uint16_t part2;
    uint16_t part3;
    unsigned char bytes[8];
};

// A counted byte string in an exactly sized heap buffer, always followed by a NUL byte, with
// value semantics. Lengths, positions and counts are in bytes; multi-byte text is never
// interpreted. A string is set exactly when its length is not 0.
class TqString
{
public:
    // All bits set: "up to the NUL" as a count, "not found" as a search result, "to the end" as
    // a Substr count.
    static constexpr unsigned long maxLen = ~0UL;

    TqString();
    TqString(const char* text, unsigned long count = maxLen);
    TqString(char* text, unsigned long count = maxLen);
    // Wide text through the wide string's multibyte form (defined with TqUnicodeString).
    TqString(const wchar_t* text, unsigned long count = maxLen);
    TqString(const TqString& other);
    TqString(TqString&& other) noexcept;
    TqString& operator=(const TqString& other);
    TqString& operator=(TqString&& other) noexcept;
    virtual ~TqString();

    void Clear();

    unsigned long Size() const { return length; }
    char* Data() { return buffer; }
    const char* Data() const { return buffer; }
    const char* ConstData() const;
    bool IsSet() const { return length != 0; }
    bool IsEmpty() const { return length == 0; }
    bool HasOf(unsigned long position) const { return position < length; }
    char operator[](unsigned long position) const;

    bool Equals(const TqString& other) const;
    bool operator==(const TqString& other) const { return Equals(other); }
    bool EqualsIgnoreCase(const TqString& other) const;
    // Longer strings first, equal lengths by their bytes: the key order of every map.
    bool operator<(const TqString& other) const;

    void Append(const TqString& other);
    TqString& operator+=(const TqString& other);
    TqString& operator+=(const char* text);
    TqString operator+(const TqString& other) const;
    TqString operator+(const char* text) const;
    TqString Substr(unsigned long position, unsigned long count) const;
    TqString Replace(const TqString& from, const TqString& to) const;
    TqString ToLower() const;
    TqString ToUpper() const;
    TqString ToUTF8() const;

    unsigned long IndexOf(const TqString& text, unsigned long start) const;
    unsigned long IndexOfIgnoreCase(const TqString& text, unsigned long start) const;
    unsigned long IndexLastOf(const TqString& text) const;
    unsigned long IndexLastOfIgnoreCase(const TqString& text) const;
    bool EndsWith(const TqString& text) const;

    long GetLong(long defaultValue) const;
    unsigned long GetULong(unsigned long defaultValue) const;
    double GetDouble(double defaultValue) const;
    _GUID GetGUID(bool* outcome) const;

    TqString& FromInt(int value);
    TqString& FromDword(unsigned int value);
    TqString& FromDouble(double value);
    TqString& FromGUID(const _GUID& guid);
    // printf-style text of at most 510 bytes; an empty format leaves the string empty.
    TqString& FromFormat(TqString format, ...);

    CFStringRef CreateCFString() const;
    TqString& FromCFString(CFStringRef string);

    // The content as wide characters in the current locale (defined with TqUnicodeString).
    TqUnicodeString GetUnicode() const;

protected:
    // The one way content is replaced; bytes may lie inside this string's own buffer.
    void init(const char* text, unsigned long count);
    // Grows the buffer in place where the allocator can; text may lie in our own buffer.
    void appendBytes(const char* text, unsigned long count);

    unsigned long length;
    char* buffer;
};

#endif
