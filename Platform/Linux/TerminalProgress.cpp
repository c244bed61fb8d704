#include "TerminalProgress.h"

#include <cerrno>
#include <fcntl.h>
#include <string>

#include "LineEscaping.h"

void TerminalProgress::Begin(FILE* stream, const TqString& name, unsigned long totalEntries)
{
    terminal = FileDescriptor();
    if (stream != nullptr && fileno(stream) >= 0)
    {
        // A new open file description of the same terminal, so O_NONBLOCK is this line's alone.
        const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream));
        terminal = FileDescriptor(open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    }
    productName = EscapeLineText(name);
    total = totalEntries;
    handled = 0;
    shown = 0;
    written = false;
    drawnLength = 0;
    said = TqString();
    throttle.Reset();
}

void TerminalProgress::Show(unsigned long handledEntries)
{
    if (!terminal.IsOpen() || handledEntries == handled)
        return;
    handled = handledEntries;
    if (handled > total)
        total = handled;
    if (throttle.Due())
        Draw();
}

void TerminalProgress::End()
{
    if (!terminal.IsOpen())
        return;
    if (handled != shown)
        Draw();
    if (written)
        Write("\n");
    terminal = FileDescriptor();
}

void TerminalProgress::Say(const TqString& text)
{
    if (!terminal.IsOpen() || handled != 0 || text == said)
        return;
    said = text;
    DrawLine(TqString(": ") + EscapeLineText(text));
}

void TerminalProgress::Draw()
{
    char counts[64];
    (void)std::snprintf(counts, sizeof counts, ": %lu of %lu entries", handled, total);
    if (DrawLine(counts))
        shown = handled;
}

bool TerminalProgress::DrawLine(const TqString& rest)
{
    TqString line = TqString("Removing ") + productName + rest;
    const unsigned long length = line.Size();
    for (unsigned long padding = length; padding < drawnLength; ++padding)
        line += " ";
    if (length > drawnLength)
        drawnLength = length;
    written = true;
    return Write(TqString("\r") + line);
}

// One write that never waits: what the terminal cannot take now is dropped (the next frame
// starts its line afresh with a carriage return). True when all of it went.
bool TerminalProgress::Write(const TqString& text)
{
    ssize_t result;
    do
        result = write(terminal.Get(), text.ConstData(), text.Size());
    while (result < 0 && errno == EINTR);
    return result == static_cast<ssize_t>(text.Size());
}
