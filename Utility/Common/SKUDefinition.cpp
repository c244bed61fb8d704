#include "SKUDefinition.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "InstallEntries.h"
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

} // namespace

void SKUDefinition::fromFile(const TqString& path)
{
    clear();
    XMLReading::UseFile(path, [this](TiXmlDocument& document) { readDocument(document, true); });
}

void SKUDefinition::identityFromFile(const TqString& path, std::string* digest)
{
    clear();
    // The product's first sku element, once the parser has gone past it, is what a whole read
    // finds: the parser reads on from there without going back.
    const auto identityRead = [](TiXmlDocument& document)
    {
        TiXmlElement* product = firstChildAsElement(&document, "product");
        TiXmlElement* sku = product ? firstChildAsElement(product, "sku") : nullptr;
        return sku != nullptr && (sku->NextSibling() != nullptr || product->NextSibling() != nullptr);
    };
    XMLReading::UseFileLead(path, identityRead,
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
        (void)InstallEntries::Read(installRoot, installFiles, TqString(), InstallEntries::Kinds::both,
                                   releaseInstallEntries);
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
        (void)InstallEntries::Read(parent, node, parentName, InstallEntries::Kinds::both, false);
    }
    else
    {
        (void)InstallEntries::Read(parent, node, parentName, InstallEntries::Kinds::directories, false);
        (void)InstallEntries::Read(parent, node, parentName, InstallEntries::Kinds::files, false);
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
