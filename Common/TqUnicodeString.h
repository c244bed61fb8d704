#ifndef TQ_TQUNICODESTRING_H
#define TQ_TQUNICODESTRING_H

#include <cwchar>

#include "TqString.h"

// The wide-character twin of TqString: a counted run of wchar_t in an exactly sized heap buffer,
// always followed by a nul element, with value semantics. Lengths, positions and counts are in
// characters. Conversions and case mappings are the C library's in the current locale, which
// this class reads but never sets.
class TqUnicodeString
{
public:
    // All bits set: "up to the nul" as a count, "not found" as a search result, "to the end" as
    // a Substr count.
    static constexpr unsigned long maxLen = ~0UL;

    TqUnicodeString();
    TqUnicodeString(const TqUnicodeString& other);
    TqUnicodeString(TqUnicodeString&& other) noexcept;
    TqUnicodeString(const wchar_t* text, unsigned long count = maxLen);
    TqUnicodeString(wchar_t* text, unsigned long count = maxLen);
    // Multibyte text in the current locale, through TqString::GetUnicode.
    TqUnicodeString(const char* text, unsigned long count = maxLen);
    virtual ~TqUnicodeString();

    TqUnicodeString& operator=(const TqUnicodeString& other);
    TqUnicodeString& operator=(TqUnicodeString&& other) noexcept;
    // The one way content is copied in; text may lie inside this string's own buffer.
    void init(const wchar_t* text, unsigned long count);
    void Clear();

    unsigned long Size() const { return length; }
    wchar_t* Data() { return buffer; }
    const wchar_t* Data() const { return buffer; }
    // Never null: the shared empty text when nothing is held.
    const wchar_t* ConstData() const;
    bool IsSet() const { return length != 0; }
    bool IsEmpty() const { return length == 0; }
    bool HasOf(unsigned long index) const { return index < length; }
    wchar_t operator[](unsigned long index) const { return index < length ? buffer[index] : L'\0'; }

    bool Equals(const TqUnicodeString& other) const;
    bool operator==(TqUnicodeString& other) const { return Equals(other); }
    bool EqualsIgnoreCase(const TqUnicodeString& other) const;
    // Longer strings first, equal lengths by character value (the same order as TqString).
    bool operator<(const TqUnicodeString& other) const;

    void Append(const TqUnicodeString& other);
    TqUnicodeString& operator+=(const TqUnicodeString& other);
    TqUnicodeString& operator+=(const wchar_t* text);
    TqUnicodeString operator+(const TqUnicodeString& other) const;
    TqUnicodeString operator+(const wchar_t* text);
    TqUnicodeString Substr(unsigned long pos, unsigned long count) const;
    // Every occurrence, left to right and without overlap; an empty `from` gives a plain copy.
    TqUnicodeString Replace(const TqUnicodeString& from, const TqUnicodeString& to);
    TqUnicodeString ToLower() const;
    TqUnicodeString ToUpper() const;

    unsigned long IndexOf(const TqUnicodeString& needle, unsigned long start) const;
    unsigned long IndexOfIgnoreCase(const TqUnicodeString& needle, unsigned long start) const;
    unsigned long IndexLastOf(const TqUnicodeString& needle) const;
    unsigned long IndexLastOfIgnoreCase(const TqUnicodeString& needle) const;
    bool EndsWith(const TqUnicodeString& suffix) const;

    long GetLong(long defaultValue);
    unsigned long GetULong(unsigned long defaultValue);
    double GetDouble(double defaultValue);
    TqUnicodeString& FromInt(int value);
    TqUnicodeString& FromDword(unsigned int value);
    TqUnicodeString& FromDouble(double value);
    // swprintf-style text of at most 510 characters; an empty format leaves the string empty.
    TqUnicodeString& FromFormat(TqUnicodeString format, ...);

    // The locale's multibyte form within 2 bytes per character; what does not fit is dropped.
    TqString GetMultibyteString() const;
    // The locale's multibyte form within 4 bytes per character (UTF-8 under a UTF-8 locale).
    TqString ToUTF8() const;
    // Multibyte text in the current locale, at most count characters; invalid text leaves the
    // string empty.
    void FromUTF8(const char* text, unsigned long count = maxLen);
    // UTF-16 bytes in the chosen byte order, surrogate pairs above U+FFFF, no byte-order mark;
    // empty when a character has no UTF-16 form.
    TqString ToUTF16(bool bigEndian) const;
    // count 16-bit units of UTF-16 in the chosen byte order (maxLen: up to a zero unit); an
    // unpaired surrogate leaves the string empty.
    void FromUTF16(void* buffer, bool bigEndian, unsigned long count);

protected:
    unsigned long length;
    wchar_t* buffer;

private:
    unsigned long find(const TqUnicodeString& needle, unsigned long start, bool ignoreCase) const;
    unsigned long findLast(const TqUnicodeString& needle, bool ignoreCase) const;
    // Takes ownership of an array holding count characters and a nul behind them.
    void adopt(wchar_t* array, unsigned long count);
    TqString toMultibyte(unsigned long bytesPerCharacter) const;
};

#endif
