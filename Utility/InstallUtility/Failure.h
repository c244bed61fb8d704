#ifndef TQ_FAILURE_H
#define TQ_FAILURE_H

#include "TqString.h"

// What the removal could not do: the path it concerns and why. It is printed as one line,
// "failed PATH: REASON" (or "refused NAME: REASON" for what the guard would not even try).
// Functions that can fail return std::optional<Failure>: nothing when all went well.
struct Failure
{
    TqString path;
    TqString reason;
};

#endif
