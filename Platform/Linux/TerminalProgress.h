#ifndef TQ_TERMINALPROGRESS_H
#define TQ_TERMINALPROGRESS_H

#include <cstdio>

#include "FileDescriptor.h"
#include "RedrawThrottle.h"
#include "TqString.h"

// The removal's progress at a terminal: one line, "Removing <product>: N of M entries" (with the
// entry being removed first while the tool says how far it is inside it: "Removing <product>:
// Plug-Ins/Big.bundle — 12,480 items removed; 3 of 27 entries"), kept within the terminal's width, rewritten
// in place with a carriage return, and ended with a newline. The line starts with the first entry
// handled: until the tool prints, the terminal may still be the elevation program's, asking for a
// password.
//
// The display never holds the removal up: the line is redrawn at most ten times a second, and
// written only when the terminal takes it at once (a terminal stopped with Ctrl-S, or a slow
// line, skips frames rather than stopping the reader of the tool's output).
class TerminalProgress
{
public:
    explicit TerminalProgress(RedrawThrottle::Clock clock = std::chrono::steady_clock::now) : throttle(clock)
    {
    }

    // Starts a line for the product on the terminal behind output, written once something is
    // handled. The product name is escaped for one line.
    void Begin(FILE* output, const TqString& productName, unsigned long totalEntries);
    // Takes the new count and activity and redraws the line when either changed and a redraw is
    // due. More entries than the total (lines the count did not foresee) raise the total, so N
    // never passes M.
    void Show(unsigned long handledEntries, const TqString& activity = TqString());
    // Draws what a frame skipped, if anything: when the tool has gone quiet, the line shows its
    // last word rather than an older one.
    void DrawSkipped();
    // Before the first entry: says what the removal waits for in place of the count
    // ("Removing <product>: waiting for another removal of ..."), escaped, once per text.
    void Say(const TqString& text);
    // Draws the last count when a frame skipped it, and ends the line, when there is one; nothing
    // more is written until the next Begin.
    void End();

private:
    bool Write(const TqString& text);
    void Draw();
    // The terminal's width in columns (a large one when it does not say).
    unsigned long Columns() const;
    // Draws "Removing <product>" and rest over the line drawn before; true when all of it went.
    bool DrawLine(const TqString& rest);

    // The terminal opened afresh without blocking, so the caller's own descriptor keeps its mode.
    FileDescriptor terminal;
    RedrawThrottle throttle;
    TqString productName;
    unsigned long total = 0;
    unsigned long handled = 0;
    unsigned long shown = 0;
    TqString activity;
    TqString shownActivity;
    bool written = false;
    // The longest line drawn, in code points, so a shorter one that follows it is padded over what it leaves.
    unsigned long drawnLength = 0;
    TqString said;
};

#endif
