#include "LineEscaping.h"

#include "Utf8Sequence.h"

namespace
{

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
