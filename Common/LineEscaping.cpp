#include "LineEscaping.h"

#include <cstdio>
#include <string>

#include "Utf8Sequence.h"

namespace
{

bool IsControl(unsigned long codePoint)
{
    return codePoint < 0x20 || codePoint == 0x7F || (codePoint >= 0x80 && codePoint <= 0x9F);
}

// The line and paragraph separators and the format characters (Unicode category Cf): invisible,
// yet they can end a line for some readers, reorder the text around them (the bidirectional
// controls) or hide what follows, so a name holding one could pass for another line.
bool IsLineFormatting(unsigned long codePoint)
{
    static const struct
    {
        unsigned long first;
        unsigned long last;
    } ranges[] = {
        {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
        {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
        {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
        {0xE0020, 0xE007F},
    };
    if (codePoint < 0xAD)
        return false;
    for (const auto& range : ranges)
        if (codePoint >= range.first && codePoint <= range.last)
            return true;
    return false;
}

// Symbols drawn like "/" or "\\": a name holding one could pass for a path that crosses folders
// ("etc\u{2215}passwd" shows as "etc/passwd"), or for one of the escapes this text uses. The set is
// Unicode's confusables of SOLIDUS and REVERSE SOLIDUS that are symbols or punctuation: the
// fraction, division and big slashes, set minus, the reverse solidus operator, the mathematical
// diagonals, the box-drawing diagonals, the small and fullwidth forms, the Kangxi and CJK strokes,
// the vertical kana repeat mark, the Philippine punctuation and the Greek notation symbols. Letters
// that look alike (katakana NO, the ideograph U+4E3F, Coptic ESH) are left as they are: they are
// what a name in those scripts is written with. What imitates a line end is a control (CR, VT, FF,
// NEL) or a line or paragraph separator, all escaped by the rules above.
bool IsSeparatorLookAlike(unsigned long codePoint)
{
    static const unsigned long lookAlikes[] = {
        0x1735, 0x2044, 0x2215, 0x2216, 0x2571, 0x2572, 0x27CB, 0x27CD,  0x29F5,  0x29F8,  0x29F9,
        0x2F03, 0x3033, 0x31D3, 0x31D4, 0xFE68, 0xFF0F, 0xFF3C, 0x1D20F, 0x1D23A, 0x1D23B,
    };
    for (const unsigned long lookAlike : lookAlikes)
        if (codePoint == lookAlike)
            return true;
    return false;
}

void AppendCodePointEscape(std::string& out, unsigned long codePoint)
{
    char escape[16];
    const int written = snprintf(escape, sizeof escape, "\\u{%04lX}", codePoint);
    out.append(escape, static_cast<size_t>(written));
}

void AppendHexEscapes(std::string& out, const unsigned char* bytes, unsigned long count)
{
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned long k = 0; k < count; ++k)
    {
        const char escape[] = {'\\', 'x', digits[bytes[k] >> 4], digits[bytes[k] & 0x0F]};
        out.append(escape, sizeof escape);
    }
}

// Printable ASCII other than the backslash: the bytes of nearly every name, passed on as they are
// without decoding them.
bool IsPlainAscii(unsigned char byte)
{
    return byte >= 0x20 && byte < 0x7F && byte != '\\';
}

} // namespace

void AppendEscapedLineText(std::string& out, const char* text, size_t size)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t plainStart = 0;
    size_t index = 0;
    while (index < size)
    {
        if (IsPlainAscii(bytes[index]))
        {
            ++index;
            continue;
        }
        unsigned long codePoint = 0;
        const unsigned long length = Utf8SequenceLength(bytes + index, size - index, codePoint);
        const bool formatting =
            length > 1 && (IsLineFormatting(codePoint) || IsSeparatorLookAlike(codePoint));
        if (length != 0 && !IsControl(codePoint) && codePoint != '\\' && !formatting)
        {
            index += length;
            continue;
        }
        // Plain text is copied in runs; only what needs escaping is handled byte by byte.
        out.append(text + plainStart, index - plainStart);
        const unsigned long count = length == 0 ? 1 : length;
        if (codePoint == '\n' && length == 1)
            out += "\\n";
        else if (codePoint == '\t' && length == 1)
            out += "\\t";
        else if (codePoint == '\\' && length == 1)
            out += "\\\\";
        else if (formatting)
            AppendCodePointEscape(out, codePoint);
        else
            AppendHexEscapes(out, bytes + index, count);
        index += count;
        plainStart = index;
    }
    out.append(text + plainStart, size - plainStart);
}

TqString EscapeLineText(const TqString& text)
{
    std::string out;
    AppendEscapedLineText(out, text.ConstData(), text.Size());
    // Every escape is longer than what it stands for: the same length means nothing was escaped.
    if (out.size() == text.Size())
        return text;
    return TqString(out.data(), static_cast<unsigned long>(out.size()));
}

namespace
{

int HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    return -1;
}

void AppendUtf8(std::string& out, unsigned long codePoint)
{
    if (codePoint < 0x80)
        out += static_cast<char>(codePoint);
    else if (codePoint < 0x800)
    {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The length of the escape at text[index] (a backslash) with what it stands for appended to out;
// 0 when it is none of EscapeLineText's.
size_t TakeEscape(const std::string& text, size_t index, std::string& out)
{
    const char kind = index + 1 < text.size() ? text[index + 1] : '\0';
    if (kind == 'n' || kind == 't' || kind == '\\')
    {
        out += kind == 'n' ? '\n' : kind == 't' ? '\t' : '\\';
        return 2;
    }
    if (kind == 'x' && index + 3 < text.size() && HexValue(text[index + 2]) >= 0 && HexValue(text[index + 3]) >= 0)
    {
        out += static_cast<char>(HexValue(text[index + 2]) * 16 + HexValue(text[index + 3]));
        return 4;
    }
    const size_t close = kind == 'u' && index + 2 < text.size() && text[index + 2] == '{' ? text.find('}', index) : std::string::npos;
    if (close == std::string::npos || close == index + 3 || close > index + 11)
        return 0;
    unsigned long codePoint = 0;
    for (size_t digit = index + 3; digit < close; ++digit)
    {
        if (HexValue(text[digit]) < 0)
            return 0;
        codePoint = codePoint * 16 + static_cast<unsigned long>(HexValue(text[digit]));
    }
    if (codePoint > 0x10FFFF)
        return 0;
    AppendUtf8(out, codePoint);
    return close + 1 - index;
}

} // namespace

TqString UnescapeLineText(const TqString& text)
{
    const std::string escaped(text.ConstData(), text.Size());
    if (escaped.find('\\') == std::string::npos)
        return text;
    std::string out;
    for (size_t index = 0; index < escaped.size();)
    {
        const size_t taken = escaped[index] == '\\' ? TakeEscape(escaped, index, out) : 0;
        if (taken == 0)
            out += escaped[index++];
        else
            index += taken;
    }
    return TqString(out.data(), static_cast<unsigned long>(out.size()));
}
