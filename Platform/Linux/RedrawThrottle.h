#ifndef TQ_REDRAWTHROTTLE_H
#define TQ_REDRAWTHROTTLE_H

#include <chrono>
#include <functional>

// Spaces out the redraws of a progress display to at most one per interval on a monotonic clock,
// so that a tool printing thousands of lines a second is never held up by drawing them.
class RedrawThrottle
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit RedrawThrottle(Clock readClock = std::chrono::steady_clock::now,
                            std::chrono::milliseconds minimumInterval = std::chrono::milliseconds(100))
        : clock(std::move(readClock)), interval(minimumInterval)
    {
    }

    // True when a redraw may happen now (the first one always may); it is then counted as done.
    bool Due()
    {
        const auto now = clock();
        if (drawn && now - lastDraw < interval)
            return false;
        drawn = true;
        lastDraw = now;
        return true;
    }
    // Forgets the last redraw, so the next one is due at once.
    void Reset() { drawn = false; }
    std::chrono::steady_clock::time_point Now() const { return clock(); }

private:
    Clock clock;
    std::chrono::milliseconds interval;
    bool drawn = false;
    std::chrono::steady_clock::time_point lastDraw;
};

#endif
