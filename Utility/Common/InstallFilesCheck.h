#ifndef TQ_INSTALLFILESCHECK_H
#define TQ_INSTALLFILESCHECK_H

#include <vector>

#include "TqString.h"

class TiXmlDocument;

// What the removal tool's own check of a definition's installFiles found. The reader takes what it
// knows and passes over the rest; the tool, which deletes by it, must not act on a definition whose
// author meant something the reader does not see: a name that differs from a known one only by
// letter case, or a flag it cannot read, would quietly remove what was meant to stay.
struct InstallFilesFindings
{
    // Why the tool must refuse the definition, unset when it may act on it: nothing listed (no
    // installFiles, or one without an entry), a known name spelt in another letter case, or a flag
    // whose value is neither "0" nor "1". The line and the known spelling are named.
    TqString refusal;
    // One line for each other unknown element or attribute name inside installFiles, the first
    // place it occurs: passed over, as the reader does, but said.
    std::vector<TqString> ignored;
};

// Checks the installFiles of the document's "product" root the way the reader takes them (the
// first installFiles element; directory and file entries at any depth, shortCut in a file).
InstallFilesFindings CheckInstallFiles(const TiXmlDocument& document);

#endif
