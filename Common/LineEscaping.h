#ifndef TQ_LINEESCAPING_H
#define TQ_LINEESCAPING_H

#include "TqString.h"

// Text from a definition or from disk, made safe to print as part of one line: control characters
// (C0, DEL and C1) and backslash are written "\n", "\t", "\\" or "\xHH", and bytes that are not
// UTF-8 "\xHH", so a name can neither break a line nor reach a terminal as an escape sequence.
// Valid UTF-8 text without control characters is returned unchanged.
TqString EscapeLineText(const TqString& text);

#endif
