#ifndef TQ_PATHTEXT_H
#define TQ_PATHTEXT_H

#include "TqString.h"

// Path text as the programs build it: joined, cut to its parent, normalised. Only the text is
// looked at; nothing here touches the disk.
namespace PathText
{

// path and component with exactly one "/" between them, whatever slashes either brings
// ("a/" + "/b" is "a/b"; an empty path gives "/b", an empty component "a/").
TqString Join(const TqString& path, const TqString& component);

// The part of path before its last "/": "/" for a top-level entry, unset when there is no "/".
TqString Parent(const TqString& path);

// Runs of "/" folded into one and trailing ones dropped; "/" stays "/".
TqString Normalized(const TqString& path);

// An absolute path with its "." names dropped and each ".." taking away the name before it (none
// above "/"), as the text reads without the links a real walk may meet; then Normalized.
TqString Resolved(const TqString& path);

} // namespace PathText

#endif
