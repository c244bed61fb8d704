#include "CoreFoundationStrings.h"

#ifndef __APPLE__

#include <cstring>
#include <new>
#include <string>

#include "Utf8Sequence.h"

// The stand-in keeps the validated UTF-8 bytes and the text's length in UTF-16 units.
struct __CFString
{
    std::string utf8;
    CFIndex utf16Length;
};

namespace
{
// Number of UTF-16 units in well-formed UTF-8 text, or -1 when the bytes are not well formed
// (overlong forms, surrogates, values above U+10FFFF and truncated sequences are refused).
CFIndex utf16LengthOf(const unsigned char* s, size_t n)
{
    CFIndex units = 0;
    size_t i = 0;
    while (i < n)
    {
        unsigned long codePoint = 0;
        const unsigned long length = Utf8SequenceLength(s + i, n - i, codePoint);
        if (length == 0)
            return -1;
        units += codePoint >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}
} // namespace

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding)
{
    if (!cStr || encoding != kCFStringEncodingUTF8)
        return nullptr;
    const size_t n = std::strlen(cStr);
    const CFIndex units = utf16LengthOf(reinterpret_cast<const unsigned char*>(cStr), n);
    if (units < 0)
        return nullptr;
    return new (std::nothrow) __CFString{std::string(cStr, n), units};
}

CFIndex CFStringGetLength(CFStringRef string)
{
    return string ? string->utf16Length : 0;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    if (!string || !buffer || encoding != kCFStringEncodingUTF8 || bufferSize <= 0 ||
        string->utf8.size() >= static_cast<size_t>(bufferSize))
        return false;
    std::memcpy(buffer, string->utf8.data(), string->utf8.size());
    buffer[string->utf8.size()] = '\0';
    return true;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding)
{
    // One UTF-16 unit takes at most three UTF-8 bytes (a surrogate pair, two units, takes four).
    return encoding == kCFStringEncodingUTF8 ? length * 3 : -1;
}

void CFRelease(CFTypeRef object)
{
    delete static_cast<const __CFString*>(object);
}

#endif
