#ifndef TQ_XMLNESTING_H
#define TQ_XMLNESTING_H

#include <cstddef>

// How deeply the XML parser would nest the elements of a text, found without building a tree.
// The parser recurses once per open element, so a text nested beyond what its stack holds must be
// recognised before it is parsed.
namespace XMLNesting
{

// The deepest element nesting the parser reaches when reading text[0, length) (bytes past the end
// read as NUL), counting stops once it passes limit. The walk follows the parser's reading step for
// step (comments, CDATA, quoted values, entities, UTF-8 sequences, the encoding switch after a
// declaration) and stops where the parser stops with an error, so the result is never below the
// depth the parser reaches.
size_t deepest(const char* text, size_t length, size_t limit);

} // namespace XMLNesting

#endif
