#ifndef TQ_TQBITSET_H
#define TQ_TQBITSET_H

#include <vector>

#include "TqString.h"

// A set of bits read from a hexadecimal mask text, bit 0 first.
class TqBitSet
{
public:
    TqBitSet() {}
    TqBitSet(const TqBitSet& other) = default;
    TqBitSet& operator=(const TqBitSet& other) = default;

    // Rebuilds the set from hexadecimal text, most significant digit first. The text is read in
    // groups of eight digits from its end, each group giving 32 bits; a group that is not wholly
    // hexadecimal is dropped without leaving a gap. True when at least one bit was produced.
    bool fromString(const TqString& text);

    // The number of bits held: always a multiple of 32 after fromString.
    unsigned long Size() const { return bits.size(); }
    // Bit `index`; false beyond the end.
    bool Test(unsigned long index) const { return index < bits.size() && bits[index]; }

    std::vector<bool> bits;
};

#endif
