#include "LineEscaping.h"

namespace
{

// Length of the well-formed UTF-8 sequence that starts at s[0] (at most n bytes), or 0 when there
// is none: overlong forms, surrogates and values above U+10FFFF are not well formed.
unsigned long Utf8SequenceLength(const unsigned char* s, unsigned long n, unsigned long& codePoint)
{
    unsigned long extra;
    unsigned long least;
    if (s[0] < 0x80)
    {
        codePoint = s[0];
        return 1;
    }
    if ((s[0] & 0xE0) == 0xC0)
        extra = 1, least = 0x80, codePoint = s[0] & 0x1F;
    else if ((s[0] & 0xF0) == 0xE0)
        extra = 2, least = 0x800, codePoint = s[0] & 0x0F;
    else if ((s[0] & 0xF8) == 0xF0)
        extra = 3, least = 0x10000, codePoint = s[0] & 0x07;
    else
        return 0;
    if (n <= extra)
        return 0;
    for (unsigned long k = 1; k <= extra; ++k)
    {
        if ((s[k] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (s[k] & 0x3F);
    }
    if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return extra + 1;
}

bool IsControl(unsigned long codePoint)
{
    return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F);
}

void AppendHexEscapes(TqString& out, const unsigned char* bytes, unsigned long count)
{
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned long k = 0; k < count; ++k)
    {
        const char escape[] = {'\\', 'x', digits[bytes[k] >> 4], digits[bytes[k] & 0x0F], '\0'};
        out += escape;
    }
}

} // namespace

TqString EscapeLineText(const TqString& text)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.ConstData());
    const unsigned long size = text.Size();
    TqString out;
    unsigned long plainStart = 0;
    unsigned long index = 0;
    while (index < size)
    {
        unsigned long codePoint = 0;
        const unsigned long length = Utf8SequenceLength(bytes + index, size - index, codePoint);
        if (length != 0 && !IsControl(codePoint) && codePoint != '\\')
        {
            index += length;
            continue;
        }
        // Plain text is copied in runs; only what needs escaping is handled byte by byte.
        out += TqString(text.ConstData() + plainStart, index - plainStart);
        const unsigned long count = length == 0 ? 1 : length;
        if (codePoint == '\n' && length == 1)
            out += "\\n";
        else if (codePoint == '\t' && length == 1)
            out += "\\t";
        else if (codePoint == '\\' && length == 1)
            out += "\\\\";
        else
            AppendHexEscapes(out, bytes + index, count);
        index += count;
        plainStart = index;
    }
    if (plainStart == 0)
        return text;
    out += TqString(text.ConstData() + plainStart, size - plainStart);
    return out;
}
