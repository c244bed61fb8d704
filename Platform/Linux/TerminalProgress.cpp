#include "TerminalProgress.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>

#include "LineEscaping.h"

namespace
{

// What a line may take where the terminal does not say its width (a pipe, a test).
const unsigned long kUnknownWidth = 1000;

bool IsContinuationByte(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

unsigned long CodePoints(const TqString& text)
{
    unsigned long count = 0;
    for (unsigned long index = 0; index < text.Size(); ++index)
        count += IsContinuationByte(text[index]) ? 0 : 1;
    return count;
}

// text, or "…" and as many of its last code points as make count in all.
TqString LastCodePoints(const TqString& text, unsigned long count)
{
    if (CodePoints(text) <= count)
        return text;
    if (count == 0)
        return TqString();
    unsigned long start = text.Size();
    for (unsigned long kept = 0; kept + 1 < count && start > 0;)
    {
        --start;
        kept += IsContinuationByte(text[start]) ? 0 : 1;
    }
    return TqString("\xE2\x80\xA6") + text.Substr(start, TqString::maxLen);
}

} // namespace

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

void TerminalProgress::Show(unsigned long handledEntries, const TqString& now)
{
    const TqString escaped = now.IsSet() ? EscapeLineText(now) : TqString();
    if (!terminal.IsOpen() || (handledEntries == handled && escaped == activity))
        return;
    handled = handledEntries;
    activity = escaped;
    if (handled > total)
        total = handled;
    if (throttle.Due())
        Draw();
}

void TerminalProgress::DrawSkipped()
{
    if (terminal.IsOpen() && (handled != shown || !(activity == shownActivity)))
        Draw();
}

void TerminalProgress::End()
{
    if (!terminal.IsOpen())
        return;
    DrawSkipped();
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
    (void)std::snprintf(counts, sizeof counts, "%lu of %lu entries", handled, total);
    TqString rest = TqString(": ") + counts;
    if (activity.IsSet())
    {
        // A line wider than the terminal would wrap, and the carriage return would then redraw
        // only its last row: the activity gives up its start, the count stays whole.
        const unsigned long room = Columns() - 1;
        const unsigned long others = CodePoints(TqString("Removing ") + productName + rest) + 2;
        rest = TqString(": ") + LastCodePoints(activity, room > others ? room - others : 0) + "; " + counts;
    }
    if (DrawLine(rest))
    {
        shown = handled;
        shownActivity = activity;
    }
}

unsigned long TerminalProgress::Columns() const
{
    winsize size = {};
    if (ioctl(terminal.Get(), TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return kUnknownWidth;
    return size.ws_col;
}

bool TerminalProgress::DrawLine(const TqString& rest)
{
    TqString line = TqString("Removing ") + productName + rest;
    const unsigned long length = CodePoints(line);
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
