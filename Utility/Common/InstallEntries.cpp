#include "InstallEntries.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "XMLParser.h"

namespace
{

// The attributes an install entry may carry, found in one walk over the element's attributes
// instead of one search per name; the ones the element lacks stay null. The wanted names differ in
// length, so the length picks the one name an attribute can be.
class EntryAttributes
{
public:
    explicit EntryAttributes(const TiXmlElement* element)
    {
        for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute;
             attribute = attribute->Next())
        {
            if (const std::string** value = valueFor(attribute->NameTStr()))
                *value = &attribute->ValueStr();
        }
    }

    // The attribute's text, or null when the element lacks it.
    static const char* text(const std::string* value) { return value ? value->c_str() : nullptr; }
    // The attribute's text as a string, up to its first NUL (a character reference can put one
    // inside); an absent attribute, like an empty one, gives an unset string.
    static TqString string(const std::string* value) { return TqString(text(value)); }

    const std::string* fileName = nullptr;
    const std::string* arch = nullptr;
    const std::string* configuration = nullptr;
    const std::string* dontDelete = nullptr;
    const std::string* ignoreInstallErrors = nullptr;
    const std::string* allowDowngrade = nullptr;

private:
    const std::string** valueFor(const std::string& name)
    {
        const auto is = [&name](const char* wanted) { return name.compare(wanted) == 0; };
        switch (name.size())
        {
        case 8:
            return is("fileName") ? &fileName : nullptr;
        case 4:
            return is("arch") ? &arch : nullptr;
        case 13:
            return is("configuration") ? &configuration : nullptr;
        case 10:
            return is("dontdelete") ? &dontDelete : nullptr;
        case 19:
            return is("ignoreinstallerrors") ? &ignoreInstallErrors : nullptr;
        case 14:
            return is("allowdowngrade") ? &allowDowngrade : nullptr;
        default:
            return nullptr;
        }
    }
};

// Stores a fresh node under the entry's "fileName", replacing any entry of that name together
// with its subtree, and fills what directories and files share; null when the name is not set,
// or when a directory would replace a file and keepFiles is on.
FileNode* storeEntry(FileNode& parent, const EntryAttributes& attributes, const TqString& parentName,
                     bool keepFiles, bool& listedAgain)
{
    const char* fileName = EntryAttributes::text(attributes.fileName);
    if (!fileName || !*fileName)
        return nullptr;
    // Entries usually come in name order, so the end is tried first as the place of a new one.
    std::map<TqString, FileNode>& children = parent.children;
    const size_t countBefore = children.size();
    const auto stored = children.try_emplace(children.end(), TqString(fileName));
    FileNode& entry = stored->second;
    listedAgain = children.size() == countBefore;
    if (listedAgain)
    {
        if (keepFiles && !entry.isDirectory)
            return nullptr;
        entry = FileNode();
    }
    entry.name = stored->first;
    entry.parentName = parentName;
    const char* arch = EntryAttributes::text(attributes.arch);
    entry.isX86 = arch && strcasecmp(arch, "x86") == 0 ? 1 : 0;
    // A flag that the entry does not give as "0" or "1" is the flag of the directory holding it.
    entry.dontDelete = getBoolFlagFromString(EntryAttributes::text(attributes.dontDelete), parent.dontDelete);
    entry.ignoreInstallErrors = getBoolFlagFromString(EntryAttributes::text(attributes.ignoreInstallErrors),
                                                      parent.ignoreInstallErrors);
    entry.allowDowngrade =
        getBoolFlagFromString(EntryAttributes::text(attributes.allowDowngrade), parent.allowDowngrade);
    return &entry;
}

// Stores a `file` entry with its configuration and shortcut; listedAgain as storeEntry sets it.
void readFileEntry(FileNode& parent, const TiXmlElement* element, const TqString& parentName, bool& listedAgain)
{
    const EntryAttributes attributes(element);
    FileNode* entry = storeEntry(parent, attributes, parentName, false, listedAgain);
    if (!entry)
        return;
    entry->configuration = EntryAttributes::string(attributes.configuration);
    // The first child called shortCut, when it is an element.
    const TiXmlNode* shortCutNode = element->FirstChild("shortCut");
    if (const TiXmlElement* shortCut = shortCutNode ? shortCutNode->ToElement() : nullptr)
    {
        entry->shortCut.name = TqString(shortCut->Attribute("name"));
        entry->shortCut.dir = TqString(shortCut->Attribute("dir"));
    }
}

// One element of a list or directory: stored when it is an entry of a kind being read, a
// directory with its own entries. False when watch stopped the reading.
bool readElement(FileNode& parent, TiXmlElement& element, const TqString& parentName, bool directories,
                 bool files, bool release, InstallEntries::Watch* watch)
{
    if (watch && !watch->Element(element, parent))
        return false;
    const std::string& tag = element.ValueStr();
    bool listedAgain = false;
    if (files && tag == "file")
    {
        readFileEntry(parent, &element, parentName, listedAgain);
        return !listedAgain || !watch || watch->NameListedAgain();
    }
    if (!directories || tag != "directory")
        return true;
    // A directory gives way to a file of its name only when both kinds are read in one pass.
    FileNode* entry = storeEntry(parent, EntryAttributes(&element), parentName, files, listedAgain);
    if (listedAgain && watch && !watch->NameListedAgain())
        return false;
    if (!entry)
        return true;
    entry->isDirectory = true;
    // A stored entry has no entries of its own yet, so one pass reads them.
    return InstallEntries::Read(*entry, &element, entry->name, InstallEntries::Kinds::both, release, watch);
}

} // namespace

bool InstallEntries::Read(FileNode& parent, TiXmlNode* node, const TqString& parentName, Kinds kinds,
                          bool release, Watch* watch)
{
    const bool directories = kinds != Kinds::files;
    const bool files = kinds != Kinds::directories;
    TiXmlNode* next = nullptr;
    for (TiXmlNode* child = node->FirstChild(); child; child = next)
    {
        // Taken before the work on this entry, which may let the entry go from the document; the
        // load of the next node then also overlaps that work.
        next = child->NextSibling();
        if (child->Type() == TiXmlNode::TINYXML_ELEMENT &&
            !readElement(parent, *static_cast<TiXmlElement*>(child), parentName, directories, files, release, watch))
            return false;
        if (release)
            node->RemoveChild(child);
    }
    return true;
}
