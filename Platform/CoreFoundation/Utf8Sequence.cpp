#include "Utf8Sequence.h"

unsigned long Utf8SequenceLength(const unsigned char* bytes, unsigned long available, unsigned long& codePoint)
{
    unsigned long extra;
    unsigned long least;
    if (available == 0)
        return 0;
    if (bytes[0] < 0x80)
    {
        codePoint = bytes[0];
        return 1;
    }
    if ((bytes[0] & 0xE0) == 0xC0)
        extra = 1, least = 0x80, codePoint = bytes[0] & 0x1F;
    else if ((bytes[0] & 0xF0) == 0xE0)
        extra = 2, least = 0x800, codePoint = bytes[0] & 0x0F;
    else if ((bytes[0] & 0xF8) == 0xF0)
        extra = 3, least = 0x10000, codePoint = bytes[0] & 0x07;
    else
        return 0;
    if (available <= extra)
        return 0;
    for (unsigned long k = 1; k <= extra; ++k)
    {
        if ((bytes[k] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (bytes[k] & 0x3F);
    }
    if (codePoint < least || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return extra + 1;
}
