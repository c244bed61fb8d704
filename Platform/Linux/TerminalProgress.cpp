#include "TerminalProgress.h"

#include "LineEscaping.h"

void TerminalProgress::Begin(FILE* stream, const TqString& name, unsigned long totalEntries)
{
    output = stream;
    productName = EscapeLineText(name);
    total = totalEntries;
    handled = 0;
    written = false;
}

void TerminalProgress::Show(unsigned long handledEntries)
{
    if (output == nullptr || handledEntries == handled)
        return;
    handled = handledEntries;
    if (handled > total)
        total = handled;
    Write();
}

void TerminalProgress::End()
{
    if (output == nullptr)
        return;
    if (written)
    {
        std::fputs("\n", output);
        std::fflush(output);
    }
    output = nullptr;
}

void TerminalProgress::Write()
{
    if (output == nullptr)
        return;
    std::fprintf(output, "\rRemoving %s: %lu of %lu entries", productName.ConstData(), handled, total);
    std::fflush(output);
    written = true;
}
