#ifndef TQ_XMLDOCUMENTFILE_H
#define TQ_XMLDOCUMENTFILE_H

#include <cstddef>

#include "TqString.h"

class TiXmlDocument;
class TiXmlElement;

// Hands XML text to the parser only in a form it reads safely: a regular file or a text up to its
// first NUL byte, padded for the parser's look-ahead, and nested no deeper than its recursion
// can bear. Every reader of the product's XML files goes through here.
namespace XMLDocumentFile
{

// Elements nested deeper than this would let the parser's recursion run out of stack; such a
// document is refused as a whole.
const size_t deepestNesting = 256;

// Parses the regular file at path into document, read as the parser's own file loading reads it
// (up to the first NUL byte, CR and CR LF turned into LF). The file is opened without blocking,
// so a FIFO or device in its place is refused at once. False when the file cannot be opened or
// read, is not a regular file or nests too deeply (document untouched), or is not well-formed XML
// (document holds what the parser made of it).
bool Load(const TqString& path, TiXmlDocument& document);

// Load, strictly: the document's root element when it is the document's only element, named
// rootName, and nothing but white space, comments or declarations lies outside it; null otherwise
// (a second root, text or elements after the root, another root name, or a file Load refuses).
const TiXmlElement* LoadRoot(const TqString& path, TiXmlDocument& document, const char* rootName);

// Parses bytes[0, length) up to the first NUL byte into document; false when the text nests too
// deeply (document untouched) or is not well-formed XML.
bool Parse(const char* bytes, size_t length, TiXmlDocument& document);

} // namespace XMLDocumentFile

#endif
