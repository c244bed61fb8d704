#ifndef TQ_INSTALLFILESCHECK_H
#define TQ_INSTALLFILESCHECK_H

#include <set>
#include <string>
#include <vector>

#include "TqString.h"

class TiXmlDocument;
class TiXmlElement;
struct ElementRule;

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

// The same check taken one element at a time, in document order, by a reading that lets each
// entry go from the document once it is read.
class InstallFilesCheck
{
public:
    // One element among the children of installFiles (inDirectory false) or of a directory, with
    // what it holds; but for a directory whose children come here in turn (intoDirectory false).
    // False once a refusal is found.
    [[nodiscard]] bool Element(const TiXmlElement& element, bool inDirectory, bool intoDirectory);
    // What was found, once every element has been checked or a refusal stopped the check.
    [[nodiscard]] InstallFilesFindings Findings() const;
    // Why a product element without installFiles is refused.
    [[nodiscard]] static TqString RefusalWithoutList(const TiXmlElement* product);

private:
    bool walk(const TiXmlElement& element, const ElementRule& rule);
    bool child(const TiXmlElement& element, const ElementRule& parentRule, bool intoDirectory);
    bool unknownElement(const TiXmlElement& element, const ElementRule& parent);
    bool attributes(const TiXmlElement& element, const ElementRule& rule);
    bool refuse(const TqString& why);
    void note(const std::string& key, const TqString& line);

    InstallFilesFindings findings;
    // Each unknown name is said once, where it first occurs, whatever holds it.
    std::set<std::string> noted;
    bool listsEntry = false;
};

#endif
