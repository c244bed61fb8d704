#ifndef TQ_GTKPROGRESS_H
#define TQ_GTKPROGRESS_H

#include <functional>

#include "RedrawThrottle.h"
#include "TqString.h"

struct _GtkWidget;

// A small window, titled "Removing <product>", that shows how far the removal is: the product,
// a bar, "N of M entries", the entry being removed now (with how far it is inside it, when the
// tool says) or else the path handled last, and a Cancel button. GTK must have been started. It is
// redrawn at most ten times a second, the last frame always (a tenth of a second later at most,
// however quiet the tool then is), and while no line has come for 300 ms its bar pulses, so the
// window shows the removal is alive. Cancel, or closing the window, calls cancel once and says
// the removal is stopping; the window stays until it is closed here.
class GtkProgressWindow
{
public:
    explicit GtkProgressWindow(RedrawThrottle::Clock clock = std::chrono::steady_clock::now) : throttle(clock)
    {
    }
    GtkProgressWindow(const GtkProgressWindow&) = delete;
    GtkProgressWindow& operator=(const GtkProgressWindow&) = delete;
    ~GtkProgressWindow() { Close(); }

    void Open(const TqString& productName, unsigned long totalEntries, std::function<void()> cancel);
    // More entries than the total (lines the count did not foresee) raise the total.
    void Update(unsigned long handledEntries, const TqString& currentPath, const TqString& activity);
    void Close();
    bool IsOpen() const { return window != nullptr; }

private:
    _GtkWidget* Contents(const char* title);
    void Draw();
    void Cancel();
    // Called by GTK's main loop every tenth of a second while the window is open.
    static int PulseWhileQuiet(void* self);
    static void CancelClicked(_GtkWidget* button, void* self);
    static int CloseAsked(_GtkWidget* window, void* event, void* self);

    _GtkWidget* window = nullptr;
    _GtkWidget* bar = nullptr;
    _GtkWidget* countLabel = nullptr;
    _GtkWidget* pathLabel = nullptr;
    _GtkWidget* cancelButton = nullptr;
    unsigned long total = 0;
    // The latest frame, and whether it has been drawn.
    unsigned long handled = 0;
    TqString shownText;
    bool drawn = true;
    std::function<void()> cancel;
    bool cancelling = false;
    RedrawThrottle throttle;
    std::chrono::steady_clock::time_point lastLine;
    unsigned int pulseSource = 0;
};

// Waits until fd has something to read (or has closed), handling GTK's events meanwhile so the
// windows stay drawn; returns at once when there is no fd.
void WaitForInputHandlingGtkEvents(int fd);

#endif
