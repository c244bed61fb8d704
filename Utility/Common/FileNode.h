#ifndef TQ_FILENODE_H
#define TQ_FILENODE_H

#include <cstdint>
#include <map>

#include "TqString.h"

// One entry of the install-file tree: a directory or a file, its flags and, for a directory, its
// entries by name. A node owns its subtree by value.
class FileNode
{
public:
    // The shortcut a file entry asks for; both fields unset when there is none.
    class ShortCutInfo
    {
    public:
        TqString name;
        TqString dir;
    };

    // The texts first and the small fields together at the end, so that no padding falls between
    // them: a large product has hundreds of thousands of entries.

    // The "fileName" of the entry; the empty text for the root.
    TqString name;
    std::map<TqString, FileNode> children;
    // The "fileName" of the directory holding the entry (not a path); unset at the top level.
    TqString parentName;
    TqString configuration;
    ShortCutInfo shortCut;
    int32_t isX86 = 0;
    bool isDirectory = false;
    bool dontDelete = false;
    bool ignoreInstallErrors = false;
    bool allowDowngrade = false;
};

// "0" gives false and "1" gives true (letter case aside); any other text, the unset one included,
// gives defaultValue, which is how an entry inherits the flag of its directory.
bool getBoolFlagFromString(const TqString& text, bool defaultValue);
// The same rule for an attribute's text as the XML parser hands it out; null gives defaultValue.
bool getBoolFlagFromString(const char* text, bool defaultValue);

#endif
