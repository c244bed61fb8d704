#ifndef TQ_TERMINALPROGRESS_H
#define TQ_TERMINALPROGRESS_H

#include <cstdio>

#include "TqString.h"

// The removal's progress at a terminal: one line, "Removing <product>: N of M entries", rewritten
// in place with a carriage return whenever N changes, and ended with a newline. The line starts
// with the first entry handled: until the tool prints, the terminal may still be the elevation
// program's, asking for a password.
class TerminalProgress
{
public:
    // Starts a line for the product, written once something is handled. The product name is
    // escaped for one line.
    void Begin(FILE* output, const TqString& productName, unsigned long totalEntries);
    // Rewrites the line when handledEntries differs from what it shows. More entries than the
    // total (lines the count did not foresee) raise the total, so N never passes M.
    void Show(unsigned long handledEntries);
    // Ends the line, when there is one; nothing more is written until the next Begin.
    void End();

private:
    void Write();

    FILE* output = nullptr;
    TqString productName;
    unsigned long total = 0;
    unsigned long handled = 0;
    bool written = false;
};

#endif
