#include "CoarseClock.h"

#include <ctime>

long CoarseMilliseconds()
{
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0)
        return 0;
    return now.tv_sec * 1000 + now.tv_nsec / 1000000;
}
