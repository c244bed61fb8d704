#include "TqBitSet.h"

#include <cstdint>
#include <sstream>
#include <string>

bool TqBitSet::fromString(const TqString& text)
{
    bits.clear();
    const char* data = text.ConstData();
    std::istringstream reader;
    unsigned long end = text.Size();
    while (end > 0)
    {
        const unsigned long start = end > 8 ? end - 8 : 0;
        reader.clear();
        reader.str(std::string(data + start, end - start));
        uint32_t value = 0;
        reader >> std::hex >> value;
        // A group counts only when the number takes up all of it.
        if (!reader.fail() && reader.eof())
        {
            for (int bit = 0; bit < 32; ++bit)
                bits.push_back(((value >> bit) & 1u) != 0);
        }
        end = start;
    }
    return !bits.empty();
}
