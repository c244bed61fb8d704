#ifndef TQ_INSTALLENTRIES_H
#define TQ_INSTALLENTRIES_H

#include "FileNode.h"
#include "TqString.h"

class TiXmlElement;
class TiXmlNode;

// The reading of the `directory` and `file` elements of an install list into the install-file
// tree, shared by the model's own reading and the removal tool's strict one.
namespace InstallEntries
{

// Which entries one reading of a node's children stores. Where a directory and a file share a name
// the file is kept: either all directories are read before all files, or, when both are read in
// one pass into a parent that had no entries, a directory gives way to a file stored before it.
enum class Kinds
{
    directories,
    files,
    both,
};

// What a reading tells the one that watches it; a false answer stops the reading there.
class Watch
{
public:
    virtual ~Watch() = default;
    // Each element among the children of the list or of a directory being read, in document order,
    // before it is read into parent.
    [[nodiscard]] virtual bool Element(const TiXmlElement& element, FileNode& parent) = 0;
    // A name already stored in its directory is listed again.
    [[nodiscard]] virtual bool NameListedAgain() = 0;
};

// Adds the entries below node to parent, recursively; entries inherit the flags of the directory
// that holds them. With release on, each child goes from the document once it is read, so that
// the document's nodes are given back while the model's are made. False when watch stopped it.
[[nodiscard]] bool Read(FileNode& parent, TiXmlNode* node, const TqString& parentName, Kinds kinds, bool release,
          Watch* watch = nullptr);

} // namespace InstallEntries

#endif
