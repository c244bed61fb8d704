#ifndef TQ_STRINGLIBRARY_H
#define TQ_STRINGLIBRARY_H

#include "Vector.h"

#include <utility>

namespace StringLibrary
{

// Cuts text at every occurrence of separator, in order. Empty pieces between separators are kept
// unless skipEmpty is true; a trailing separator never yields an empty last piece, and an empty
// text yields nothing. An empty separator cannot cut anything: the text comes back whole.
// Any non-empty remainder after the last separator is a piece, whatever the separator's length.
template <typename T> Vector<T> Split(T text, T separator, bool skipEmpty)
{
    Vector<T> pieces;
    const unsigned long separatorSize = separator.Size();
    if (separatorSize == 0)
    {
        if (text.IsSet())
            pieces.push_back(text);
        return pieces;
    }
    // Counting first sizes the result once instead of moving every piece on each growth.
    unsigned long separators = 0;
    for (unsigned long p = text.IndexOf(separator, 0); text.HasOf(p); p = text.IndexOf(separator, p + separatorSize))
        ++separators;
    pieces.reserve(separators + 1);

    unsigned long start = 0;
    unsigned long found = text.IndexOf(separator, 0);
    while (text.HasOf(found))
    {
        T piece = text.Substr(start, found - start);
        if (!skipEmpty || piece.IsSet())
            pieces.push_back(std::move(piece));
        start = found + separatorSize;
        found = text.IndexOf(separator, start);
    }
    if (start < text.Size())
        pieces.push_back(text.Substr(start, T::maxLen));
    return pieces;
}

} // namespace StringLibrary

#endif
