#ifndef TQ_COREFOUNDATIONSTRINGS_H
#define TQ_COREFOUNDATIONSTRINGS_H

// The platform string calls TqString converts through. On macOS they are CoreFoundation's own;
// elsewhere a small stand-in with the same names and results: an immutable Unicode text that is
// created from UTF-8 (null for bytes that are not valid UTF-8), measured in UTF-16 units and
// copied out as UTF-8.

#ifdef __APPLE__
#include <CoreFoundation/CoreFoundation.h>
#else

#include <cstdint>

typedef const struct __CFString* CFStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const void* CFTypeRef;
typedef long CFIndex;
typedef uint32_t CFStringEncoding;
typedef unsigned char Boolean;

enum : CFStringEncoding
{
    kCFStringEncodingUTF8 = 0x08000100
};

// A new string that the caller releases, or null when cStr is null, the encoding is not UTF-8 or
// the bytes are not valid UTF-8.
CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* cStr, CFStringEncoding encoding);

// The length in UTF-16 code units; 0 for null.
CFIndex CFStringGetLength(CFStringRef string);

// Copies the text and a NUL into buffer; false when it does not fit in bufferSize bytes or the
// encoding is not UTF-8.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);

// The most bytes that length UTF-16 units can take in the encoding (without the NUL).
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);

// Releases a string made by CFStringCreateWithCString.
void CFRelease(CFTypeRef object);

#endif
#endif
