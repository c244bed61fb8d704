#ifndef TQ_VECTOR_H
#define TQ_VECTOR_H

#include <vector>

// The sequence type the foundation hands out: a standard vector, so that callers may keep the
// result in a plain std::vector of the same element type.
template <typename T> class Vector : public std::vector<T>
{
public:
    Vector() {}
};

#endif
