#ifndef TQ_UTF8SEQUENCE_H
#define TQ_UTF8SEQUENCE_H

// Length of the well-formed UTF-8 sequence at the start of bytes (at most available bytes long),
// with its code point in codePoint; 0 when there is none: overlong forms, surrogates, values above
// U+10FFFF and cut sequences are not well formed. The one UTF-8 reading of platform strings and
// of the text the programs print.
unsigned long Utf8SequenceLength(const unsigned char* bytes, unsigned long available, unsigned long& codePoint);

#endif
