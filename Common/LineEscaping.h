#ifndef TQ_LINEESCAPING_H
#define TQ_LINEESCAPING_H

#include <cstddef>
#include <string>

#include "TqString.h"

// Text from a definition or from disk, made safe to print as part of one line: control characters
// (C0, DEL and C1) and backslash are written "\n", "\t", "\\" or "\xHH", and bytes that are not
// UTF-8 "\xHH", so a name can neither break a line nor reach a terminal as an escape sequence.
// The line and paragraph separators (U+2028, U+2029) and the format characters that are
// invisible yet can reorder or hide text (the bidirectional controls U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069, zero-width ones, U+FEFF, ...: Unicode category Cf) are written
// "\u{XXXX}" (upper-case hex, at least four digits), so a name cannot forge or disguise a line; so
// are the symbols drawn like a slash or a backslash (U+2215 DIVISION SLASH, U+2044 FRACTION SLASH,
// U+FF0F FULLWIDTH SOLIDUS, U+2216 SET MINUS, U+FE68 SMALL REVERSE SOLIDUS, ...), so a name cannot
// pass for a path through other folders or for an escape.
// Valid UTF-8 text without any of these is returned unchanged.
TqString EscapeLineText(const TqString& text);

// The same escaping of text[0, size), appended to out: for a writer that builds many lines in one
// buffer without a string per name.
void AppendEscapedLineText(std::string& out, const char* text, size_t size);

// The text EscapeLineText was given, byte for byte, from what it returned: for a reader of the
// printed lines that must carry names exactly (the machine-readable result). An escape it does
// not know is kept as written.
TqString UnescapeLineText(const TqString& text);

#endif
