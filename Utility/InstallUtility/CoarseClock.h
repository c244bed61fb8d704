#ifndef TQ_COARSECLOCK_H
#define TQ_COARSECLOCK_H

// Milliseconds of the monotonic clock, to a few milliseconds' grain: read without a system call,
// so that what the walk does between entries at most every so often costs nothing the rest of the time.
long CoarseMilliseconds();

#endif
