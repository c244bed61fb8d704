#include "SKUDefinition.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "StringLibrary.h"
#include "XMLParser.h"
#include "XMLReading.h"

namespace
{

// The attribute's text; an absent attribute, like an empty one, gives an unset string.
TqString attributeText(const TiXmlElement* element, const char* name)
{
    return TqString(element->Attribute(name));
}

// The first child node called name, when it is an element; a comment or text of that name counts
// as absent.
TiXmlElement* firstChildAsElement(TiXmlNode* parent, const char* name)
{
    TiXmlNode* child = parent->FirstChild(name);
    return child ? child->ToElement() : nullptr;
}

// The "name" of each child element called itemName, in document order; items without one are
// skipped, an empty one is kept as the empty text.
std::vector<TqString> namesOfItems(TiXmlElement* list, const char* itemName)
{
    std::vector<TqString> names;
    for (TiXmlElement* item = list->FirstChildElement(itemName); item;
         item = item->NextSiblingElement(itemName))
    {
        const char* name = item->Attribute("name");
        if (name)
            names.push_back(TqString(name));
    }
    return names;
}

std::vector<TqString> splitList(const TqString& text)
{
    if (!text.IsSet())
        return std::vector<TqString>();
    return StringLibrary::Split(text, TqString(";"), true);
}

// The variants under which a host is registered: "32" appended for x86, the plain name for x64
// or when no architecture is named; other architectures give none.
std::vector<TqString> hostVariantsOf(const TqString& name, const TqString& arch)
{
    std::vector<TqString> variants;
    const std::vector<TqString> pieces = splitList(arch);
    if (pieces.empty())
    {
        variants.push_back(name);
        return variants;
    }
    static const TqString x86("x86");
    static const TqString x64("x64");
    for (const TqString& piece : pieces)
    {
        if (piece.EqualsIgnoreCase(x86))
            variants.push_back(name + "32");
        else if (piece.EqualsIgnoreCase(x64))
            variants.push_back(name);
    }
    return variants;
}

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
                     bool keepFiles)
{
    const char* fileName = EntryAttributes::text(attributes.fileName);
    if (!fileName || !*fileName)
        return nullptr;
    // Entries usually come in name order, so the end is tried first as the place of a new one.
    std::map<TqString, FileNode>& children = parent.children;
    const size_t countBefore = children.size();
    const auto stored = children.try_emplace(children.end(), TqString(fileName));
    FileNode& entry = stored->second;
    if (children.size() == countBefore)
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

// Which install entries one reading of a node's children stores. Where a directory and a file
// share a name the file is kept: either all directories are read before all files, or, when both
// are read in one pass into a parent that had no entries, a directory gives way to a file stored
// before it.
enum class EntryKinds
{
    directories,
    files,
    both,
};

// Stores a `file` entry with its configuration and shortcut.
void readFileEntry(FileNode& parent, TiXmlElement* element, const TqString& parentName)
{
    const EntryAttributes attributes(element);
    FileNode* entry = storeEntry(parent, attributes, parentName, false);
    if (!entry)
        return;
    entry->configuration = EntryAttributes::string(attributes.configuration);
    if (TiXmlElement* shortCut = firstChildAsElement(element, "shortCut"))
    {
        entry->shortCut.name = attributeText(shortCut, "name");
        entry->shortCut.dir = attributeText(shortCut, "dir");
    }
}

// With release on, each directory element is taken out of the document, files and all, once it is
// read, so that the document's nodes are given back while the model's are made.
void readEntries(FileNode& parent, TiXmlNode* node, const TqString& parentName, EntryKinds kinds,
                 bool release)
{
    static const std::string directoryTag("directory");
    static const std::string fileTag("file");
    const bool directories = kinds != EntryKinds::files;
    const bool files = kinds != EntryKinds::directories;
    TiXmlNode* next = nullptr;
    for (TiXmlNode* child = node->FirstChild(); child; child = next)
    {
        // Taken before the work on this entry, which may let the entry go from the document; the
        // load of the next node then also overlaps that work.
        next = child->NextSibling();
        if (child->Type() != TiXmlNode::TINYXML_ELEMENT)
            continue;
        TiXmlElement* element = static_cast<TiXmlElement*>(child);
        const std::string& tag = element->ValueStr();
        if (directories && tag == directoryTag)
        {
            FileNode* entry =
                storeEntry(parent, EntryAttributes(element), parentName, kinds == EntryKinds::both);
            if (entry)
            {
                entry->isDirectory = true;
                // A stored entry has no entries of its own yet.
                readEntries(*entry, element, entry->name, EntryKinds::both, release);
            }
            if (release)
                node->RemoveChild(child);
        }
        else if (files && tag == fileTag)
        {
            readFileEntry(parent, element, parentName);
        }
    }
}

} // namespace

void SKUDefinition::fromFile(const TqString& path)
{
    clear();
    XMLReading::UseFile(path, [this](TiXmlDocument& document) { readDocument(document, true); });
}

void SKUDefinition::identityFromFile(const TqString& path, std::string* digest)
{
    clear();
    XMLReading::UseFile(path,
                        [this](TiXmlDocument& document)
                        {
                            if (TiXmlElement* product = firstChildAsElement(&document, "product"))
                                readSKU(firstChildAsElement(product, "sku"));
                        },
                        digest);
}

void SKUDefinition::parse(const TqString& text)
{
    clear();
    const TqString utf8 = text.ToUTF8();
    XMLReading::UseText(utf8.ConstData(), utf8.Size(),
                        [this](TiXmlDocument& document) { readDocument(document, true); });
}

void SKUDefinition::clear()
{
    *this = SKUDefinition();
}

void SKUDefinition::parseInner(TiXmlDocument& document)
{
    readDocument(document, false);
}

void SKUDefinition::readDocument(TiXmlDocument& document, bool releaseInstallEntries)
{
    clear();
    TiXmlElement* product = firstChildAsElement(&document, "product");
    if (!product)
        return;
    readSKU(firstChildAsElement(product, "sku"));
    readFamilies(firstChildAsElement(product, "families"));
    readHosts(product);
    if (TiXmlNode* installFiles = product->FirstChild("installFiles"))
    {
        installRoot.name = TqString("");
        installRoot.isDirectory = true;
        // The cleared root has no entries, so one pass reads them.
        readEntries(installRoot, installFiles, TqString(), EntryKinds::both, releaseInstallEntries);
    }
    readInstall(product->FirstChildElement("install"));
}

void SKUDefinition::readSKU(const TiXmlElement* sku)
{
    if (!sku)
        return;
    if (const char* id = sku->Attribute("ID"))
        skuInfo.id = TqString(id);
    if (const char* name = sku->Attribute("name"))
        skuInfo.name = TqString(name);
    if (const char* build = sku->Attribute("build"))
        skuInfo.build = TqString(build);
    if (const char* prefix = sku->Attribute("prefix"))
        skuInfo.prefix = TqString(prefix);
}

void SKUDefinition::readFamilies(TiXmlElement* families)
{
    if (!families)
        return;
    for (TiXmlElement* family = families->FirstChildElement("family"); family;
         family = family->NextSiblingElement("family"))
    {
        if (const char* name = family->Attribute("name"))
            readFamily(family, TqString(name));
    }
}

void SKUDefinition::readFamily(TiXmlElement* family, const TqString& name)
{
    // The first family of a name keeps its plug-ins, contents and features mask.
    if (TiXmlElement* plugins = firstChildAsElement(family, "plugins"))
    {
        std::vector<TqString> names = namesOfItems(plugins, "plugin");
        if (!names.empty())
            familyPlugins.emplace(name, names);
    }
    if (TiXmlElement* contents = firstChildAsElement(family, "contents"))
    {
        std::vector<TqString> names = namesOfItems(contents, "content");
        if (!names.empty())
            familyContents.emplace(name, names);
    }
    TiXmlElement* featuresMask = firstChildAsElement(family, "featuresmask");
    if (featuresMask && featuresMask->Attribute("name"))
    {
        TqBitSet mask;
        mask.fromString(attributeText(featuresMask, "name"));
        familyFeatureMasks.emplace(name, mask);
    }
    // ...while the last content mask of a name wins.
    TiXmlElement* contentMask = firstChildAsElement(family, "contentmask");
    if (contentMask && contentMask->Attribute("name"))
        familyContentMasks[name] = attributeText(contentMask, "name");
}

void SKUDefinition::readHosts(TiXmlElement* product)
{
    fillHostsInfo(firstChildAsElement(product, "hosts"), hostNames, hostVariants, hostFamilies,
                  hostCompilerOptions);
    if (TiXmlElement* buildHosts = firstChildAsElement(product, "hostsForBuild"))
    {
        fillHostsInfo(buildHosts, buildHostNames, buildHostVariants, buildHostFamilies, hostCompilerOptions);
    }
    else
    {
        buildHostNames = hostNames;
        buildHostVariants = hostVariants;
        buildHostFamilies = hostFamilies;
    }
}

void SKUDefinition::readInstall(TiXmlElement* install)
{
    if (!install)
        return;
    if (TiXmlElement* link = install->FirstChildElement("link"))
        installLinkUrl = attributeText(link, "url");
    TiXmlElement* noAccount = install->FirstChildElement("noAccount");
    if (!noAccount)
        return;
    if (TiXmlElement* internetOn = noAccount->FirstChildElement("internetOn"))
        internetOnUrl = attributeText(internetOn, "url");
    if (TiXmlElement* internetOff = noAccount->FirstChildElement("internetOff"))
        internetOffUrl = attributeText(internetOff, "url");
}

void SKUDefinition::fillHostsInfo(TiXmlElement* hostList, std::vector<TqString>& names,
                                  std::vector<TqString>& variants,
                                  std::map<TqString, std::vector<TqString>>& families,
                                  std::map<TqString, TqString>& options)
{
    if (!hostList)
        return;
    options.clear();
    for (TiXmlElement* host = hostList->FirstChildElement("host"); host;
         host = host->NextSiblingElement("host"))
    {
        const char* nameText = host->Attribute("name");
        if (!nameText)
            continue;
        const TqString name(nameText);
        names.push_back(name);
        const std::vector<TqString> familyList = splitList(attributeText(host, "families"));
        const TqString compilerOptions = attributeText(host, "compilerOptions");
        for (const TqString& variant : hostVariantsOf(name, attributeText(host, "arch")))
        {
            variants.push_back(variant);
            if (compilerOptions.IsSet())
                options[variant] = compilerOptions;
            if (!familyList.empty())
                families[variant] = familyList;
        }
    }
}

void SKUDefinition::parseInstallFiles(FileNode& parent, TiXmlNode* node, const TqString& parentName)
{
    if (!node)
        return;
    // A file replaces a directory of the same name. Into a parent without entries one pass keeps
    // that rule; entries already there must still be replaced by either kind.
    if (parent.children.empty())
    {
        readEntries(parent, node, parentName, EntryKinds::both, false);
    }
    else
    {
        readEntries(parent, node, parentName, EntryKinds::directories, false);
        readEntries(parent, node, parentName, EntryKinds::files, false);
    }
}

SKUDefinition::SKUInfo SKUDefinition::getSKUInfo()
{
    return skuInfo;
}

bool SKUDefinition::familyHasHost(const TqString& family, const TqString& host)
{
    return _familyHasHost(family, host, hostFamilies, hostVariants);
}

bool SKUDefinition::familyHasHostBuild(const TqString& family, const TqString& host)
{
    return _familyHasHost(family, host, buildHostFamilies, buildHostVariants);
}

bool SKUDefinition::_familyHasHost(const TqString& family, const TqString& host,
                                   std::map<TqString, std::vector<TqString>>& familiesByVariant,
                                   std::vector<TqString>& variants)
{
    if (familyPlugins.find(family) == familyPlugins.end())
        return false;
    const auto restricted = familiesByVariant.find(host);
    if (restricted != familiesByVariant.end() && !restricted->second.empty())
    {
        const std::vector<TqString>& allowed = restricted->second;
        return std::find(allowed.begin(), allowed.end(), family) != allowed.end();
    }
    return std::find(variants.begin(), variants.end(), host) != variants.end();
}
