#ifndef TQ_TARGETPATHFILE_H
#define TQ_TARGETPATHFILE_H

#include "TqString.h"

// The target-path file ("target_path.xml"): <targetPath path="/abs/dir"/>, the folder the
// product was installed into.
namespace TargetPathFile
{

// Reads the path from the file; false (path untouched) when the file cannot be read, is not
// well-formed XML, has another root element, or the attribute is missing or empty.
bool Read(const TqString& file, TqString& path);

} // namespace TargetPathFile

#endif
