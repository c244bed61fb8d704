#ifndef TQ_GTKPROGRESS_H
#define TQ_GTKPROGRESS_H

#include "RedrawThrottle.h"
#include "TqString.h"

struct _GtkWidget;

// A small window, titled "Removing <product>", that shows how far the removal is: the product,
// a bar with "N of M entries" and the path handled last. GTK must have been started. It is
// redrawn at most ten times a second, and while no line has come for 300 ms (a large bundle
// being removed whole) its bar pulses, so the window shows the removal is alive.
class GtkProgressWindow
{
public:
    explicit GtkProgressWindow(RedrawThrottle::Clock clock = std::chrono::steady_clock::now) : throttle(clock)
    {
    }
    GtkProgressWindow(const GtkProgressWindow&) = delete;
    GtkProgressWindow& operator=(const GtkProgressWindow&) = delete;
    ~GtkProgressWindow() { Close(); }

    void Open(const TqString& productName, unsigned long totalEntries);
    // More entries than the total (lines the count did not foresee) raise the total.
    void Update(unsigned long handledEntries, const TqString& currentPath);
    void Close();
    bool IsOpen() const { return window != nullptr; }

private:
    _GtkWidget* Contents(const char* title);
    // Called by GTK's main loop every tenth of a second while the window is open.
    static int PulseWhileQuiet(void* self);

    _GtkWidget* window = nullptr;
    _GtkWidget* bar = nullptr;
    _GtkWidget* pathLabel = nullptr;
    unsigned long total = 0;
    RedrawThrottle throttle;
    std::chrono::steady_clock::time_point lastLine;
    unsigned int pulseSource = 0;
};

// Waits until fd has something to read (or has closed), handling GTK's events meanwhile so the
// windows stay drawn; returns at once when there is no fd.
void WaitForInputHandlingGtkEvents(int fd);

#endif
