#ifndef TQ_UNNAMEDENTRIES_H
#define TQ_UNNAMEDENTRIES_H

#include "FileNode.h"

class TiXmlDocument;

// The reader leaves out install entries without a name (an empty "fileName", or one that starts
// with a NUL byte). The removal tool must not pass over them in silence: it puts one entry under
// the empty name into each directory of the tree that lists such entries, which the removal then
// refuses aloud.
namespace UnnamedEntries
{

// Marks in root (the install-file tree the reader made of document) every directory whose
// element lists an entry without a name.
void Mark(const TiXmlDocument& document, FileNode& root);

} // namespace UnnamedEntries

#endif
