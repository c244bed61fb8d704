// Reads arbitrary bytes as a product definition, from text and from a file, then asks every query
// about what was read and checks the model: against a plain reading of the same document that
// TinyXML builds by itself, and against the model's invariants (a read keeps nothing of an earlier
// one, the host maps only name registered variants, the install-file tree is keyed by its entries'
// names). It also checks that the nesting gate in front of the parser never lets through a document
// that the parser nests deeper than the gate admits. Any broken rule aborts; libFuzzer keeps the input.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "SKUDefinition.h"
#include "XMLNesting.h"
#include "XMLParser.h"

namespace
{

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "SKUDefinition breaks its rule: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

bool sameStrings(const std::vector<TqString>& a, const std::vector<TqString>& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

template <typename Value, typename Same>
bool sameMaps(const std::map<TqString, Value>& a, const std::map<TqString, Value>& b, Same same)
{
    if (a.size() != b.size())
        return false;
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y)
        if (!(x->first == y->first) || !same(x->second, y->second))
            return false;
    return true;
}

bool sameLists(const std::map<TqString, std::vector<TqString>>& a,
               const std::map<TqString, std::vector<TqString>>& b)
{
    return sameMaps(a, b, sameStrings);
}

bool sameTexts(const std::map<TqString, TqString>& a, const std::map<TqString, TqString>& b)
{
    return sameMaps(a, b, [](const TqString& x, const TqString& y) { return x == y; });
}

bool sameNodes(const FileNode& a, const FileNode& b)
{
    return a.name == b.name && a.isDirectory == b.isDirectory && a.parentName == b.parentName &&
           a.isX86 == b.isX86 && a.configuration == b.configuration && a.dontDelete == b.dontDelete &&
           a.ignoreInstallErrors == b.ignoreInstallErrors && a.allowDowngrade == b.allowDowngrade &&
           a.shortCut.name == b.shortCut.name && a.shortCut.dir == b.shortCut.dir &&
           sameMaps(a.children, b.children, sameNodes);
}

bool sameModels(const SKUDefinition& a, const SKUDefinition& b)
{
    return a.skuInfo.id == b.skuInfo.id && a.skuInfo.name == b.skuInfo.name &&
           a.skuInfo.build == b.skuInfo.build && a.skuInfo.prefix == b.skuInfo.prefix &&
           sameLists(a.familyPlugins, b.familyPlugins) && sameLists(a.familyContents, b.familyContents) &&
           sameTexts(a.familyContentMasks, b.familyContentMasks) &&
           sameLists(a.hostFamilies, b.hostFamilies) && sameStrings(a.hostNames, b.hostNames) &&
           sameStrings(a.hostVariants, b.hostVariants) &&
           sameTexts(a.hostCompilerOptions, b.hostCompilerOptions) &&
           sameLists(a.buildHostFamilies, b.buildHostFamilies) &&
           sameStrings(a.buildHostNames, b.buildHostNames) &&
           sameStrings(a.buildHostVariants, b.buildHostVariants) && sameNodes(a.installRoot, b.installRoot) &&
           sameMaps(a.familyFeatureMasks, b.familyFeatureMasks,
                    [](const TqBitSet& x, const TqBitSet& y) { return x.bits == y.bits; }) &&
           a.installLinkUrl == b.installLinkUrl && a.internetOffUrl == b.internetOffUrl &&
           a.internetOnUrl == b.internetOnUrl;
}

bool contains(const std::vector<TqString>& list, const TqString& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

// Map keys come out in TqString's order, which must be a strict order.
template <typename Value> void checkKeyOrder(const std::map<TqString, Value>& map)
{
    const TqString* previous = nullptr;
    for (const auto& entry : map)
    {
        check(!(entry.first < entry.first), "key order is irreflexive");
        if (previous)
            check(*previous < entry.first && !(entry.first < *previous), "keys are in order");
        previous = &entry.first;
    }
}

// A list read from a ";"-separated attribute: no empty piece and no separator left in a piece.
void checkSplitList(const std::vector<TqString>& list)
{
    check(!list.empty(), "a stored family list is not empty");
    for (const TqString& piece : list)
        check(piece.IsSet() && !piece.HasOf(piece.IndexOf(TqString(";"), 0)), "family list pieces");
}

// Every variant is a registered host name, plain or with "32".
void checkHostList(const std::vector<TqString>& names, const std::vector<TqString>& variants,
                   const std::map<TqString, std::vector<TqString>>& families)
{
    for (const TqString& variant : variants)
    {
        bool named = contains(names, variant);
        if (!named && variant.EndsWith(TqString("32")))
            named = contains(names, variant.Substr(0, variant.Size() - 2));
        check(named, "a host variant belongs to a host name");
    }
    for (const auto& entry : families)
    {
        check(contains(variants, entry.first), "a restricted host is a registered variant");
        checkSplitList(entry.second);
    }
    checkKeyOrder(families);
}

void checkTree(const FileNode& node, bool isRoot)
{
    checkKeyOrder(node.children);
    check(node.isX86 == 0 || node.isX86 == 1, "isX86 is 0 or 1");
    if (!node.isDirectory)
        check(node.children.empty(), "a file has no entries");
    else
        check(!node.configuration.IsSet() && !node.shortCut.name.IsSet() && !node.shortCut.dir.IsSet(),
              "a directory has no configuration or shortcut");
    for (const auto& entry : node.children)
    {
        const FileNode& child = entry.second;
        check(child.name == entry.first && child.name.IsSet(), "an entry is stored under its name");
        check(isRoot ? !child.parentName.IsSet() : child.parentName == node.name,
              "an entry names its directory");
        checkTree(child, false);
    }
}

// The family question answered from the stated rule, for comparison with the model's answer.
bool expectedFamilyHasHost(const SKUDefinition& model, const TqString& family, const TqString& host,
                           const std::map<TqString, std::vector<TqString>>& familiesByVariant,
                           const std::vector<TqString>& variants)
{
    if (model.familyPlugins.count(family) == 0)
        return false;
    const auto restricted = familiesByVariant.find(host);
    if (restricted != familiesByVariant.end() && !restricted->second.empty())
        return contains(restricted->second, family);
    return contains(variants, host);
}

void checkQueries(SKUDefinition& model, const TqString& extra)
{
    const SKUDefinition::SKUInfo info = model.getSKUInfo();
    check(info.id == model.skuInfo.id && info.name == model.skuInfo.name &&
              info.build == model.skuInfo.build && info.prefix == model.skuInfo.prefix,
          "getSKUInfo copies skuInfo");

    std::vector<TqString> families{extra, TqString()};
    for (const auto& entry : model.familyPlugins)
        families.push_back(entry.first);
    for (const auto& entry : model.familyContents)
        families.push_back(entry.first);
    std::vector<TqString> hosts{extra, TqString()};
    for (const std::vector<TqString>* list :
         {&model.hostNames, &model.hostVariants, &model.buildHostNames, &model.buildHostVariants})
        hosts.insert(hosts.end(), list->begin(), list->end());
    // Bound the pairs so one input cannot take seconds.
    families.resize(std::min<size_t>(families.size(), 64));
    hosts.resize(std::min<size_t>(hosts.size(), 64));

    const size_t plugins = model.familyPlugins.size();
    const size_t restricted = model.hostFamilies.size();
    for (const TqString& family : families)
        for (const TqString& host : hosts)
        {
            check(model.familyHasHost(family, host) ==
                      expectedFamilyHasHost(model, family, host, model.hostFamilies, model.hostVariants),
                  "familyHasHost");
            check(model.familyHasHostBuild(family, host) == expectedFamilyHasHost(model, family, host,
                                                                                  model.buildHostFamilies,
                                                                                  model.buildHostVariants),
                  "familyHasHostBuild");
        }
    check(model.familyPlugins.size() == plugins && model.hostFamilies.size() == restricted,
          "queries do not insert into the maps");
}

void checkModel(const SKUDefinition& model)
{
    for (const auto& entry : model.familyPlugins)
        check(!entry.second.empty(), "a family with plug-ins lists at least one");
    for (const auto& entry : model.familyContents)
        check(!entry.second.empty(), "a family with contents lists at least one");
    for (const auto& entry : model.familyFeatureMasks)
        check(entry.second.Size() % 32 == 0, "a features mask holds whole groups of 32 bits");
    checkKeyOrder(model.familyPlugins);
    checkKeyOrder(model.familyContents);
    checkKeyOrder(model.familyContentMasks);
    checkKeyOrder(model.familyFeatureMasks);
    checkKeyOrder(model.hostCompilerOptions);

    checkHostList(model.hostNames, model.hostVariants, model.hostFamilies);
    checkHostList(model.buildHostNames, model.buildHostVariants, model.buildHostFamilies);
    check(!model.hostNames.empty() || model.hostVariants.empty(), "no variants without host names");
    check(!model.buildHostNames.empty() || model.buildHostVariants.empty(),
          "no build variants without host names");
    for (const auto& entry : model.hostCompilerOptions)
        check(entry.second.IsSet() && (contains(model.hostVariants, entry.first) ||
                                       contains(model.buildHostVariants, entry.first)),
              "compiler options belong to a registered variant");

    const FileNode& root = model.installRoot;
    check(!root.name.IsSet() && root.isX86 == 0, "the install root has no name and no architecture");
    check(!root.dontDelete && !root.ignoreInstallErrors && !root.allowDowngrade,
          "the install root has no flags");
    if (!root.children.empty())
        check(root.isDirectory, "an install root with entries is a directory");
    checkTree(root, true);
}

// --- A plain reading of the definition, written from the stated rules with TinyXML's own calls.

const size_t deepestAdmitted = 256;

TqString textOf(const std::string& s)
{
    return TqString(s.data(), s.size());
}

TqString attributeOf(const TiXmlElement* element, const char* name)
{
    return TqString(element->Attribute(name));
}

// The first child node whose value is name, whatever its kind.
TiXmlNode* firstNamed(TiXmlNode* parent, const char* name)
{
    for (TiXmlNode* child = parent->FirstChild(); child; child = child->NextSibling())
        if (std::string(child->Value()) == name)
            return child;
    return nullptr;
}

TiXmlElement* firstNamedElement(TiXmlNode* parent, const char* name)
{
    TiXmlNode* node = firstNamed(parent, name);
    return node ? node->ToElement() : nullptr;
}

std::vector<TiXmlElement*> elementsNamed(TiXmlNode* parent, const char* name)
{
    std::vector<TiXmlElement*> elements;
    for (TiXmlNode* child = parent->FirstChild(); child; child = child->NextSibling())
        if (child->ToElement() && std::string(child->Value()) == name)
            elements.push_back(child->ToElement());
    return elements;
}

TiXmlElement* firstElementNamed(TiXmlNode* parent, const char* name)
{
    const std::vector<TiXmlElement*> elements = elementsNamed(parent, name);
    return elements.empty() ? nullptr : elements.front();
}

std::vector<std::string> piecesOf(const char* text)
{
    std::vector<std::string> pieces;
    std::string piece;
    for (const char* c = text ? text : ""; *c; ++c)
    {
        if (*c == ';')
        {
            if (!piece.empty())
                pieces.push_back(piece);
            piece.clear();
        }
        else
        {
            piece += *c;
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

std::string foldedCase(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool flagOf(const char* text, bool inherited)
{
    if (text && std::string(text) == "0")
        return false;
    if (text && std::string(text) == "1")
        return true;
    return inherited;
}

void readHosts(TiXmlElement* list, std::vector<TqString>& names, std::vector<TqString>& variants,
               std::map<TqString, std::vector<TqString>>& families, std::map<TqString, TqString>& options)
{
    if (!list)
        return;
    options.clear();
    for (TiXmlElement* host : elementsNamed(list, "host"))
    {
        const char* name = host->Attribute("name");
        if (!name)
            continue;
        names.push_back(TqString(name));
        std::vector<TqString> familyList;
        for (const std::string& piece : piecesOf(host->Attribute("families")))
            familyList.push_back(textOf(piece));
        const TqString compilerOptions = attributeOf(host, "compilerOptions");
        std::vector<std::string> hostVariants;
        const std::vector<std::string> architectures = piecesOf(host->Attribute("arch"));
        if (architectures.empty())
            hostVariants.push_back(name);
        for (const std::string& architecture : architectures)
        {
            if (foldedCase(architecture) == "x86")
                hostVariants.push_back(std::string(name) + "32");
            else if (foldedCase(architecture) == "x64")
                hostVariants.push_back(name);
        }
        for (const std::string& variant : hostVariants)
        {
            variants.push_back(textOf(variant));
            if (compilerOptions.IsSet())
                options[textOf(variant)] = compilerOptions;
            if (!familyList.empty())
                families[textOf(variant)] = familyList;
        }
    }
}

FileNode entryOf(TiXmlElement* element, const FileNode& parent, const TqString& parentName, bool isDirectory)
{
    FileNode entry;
    entry.name = attributeOf(element, "fileName");
    entry.isDirectory = isDirectory;
    entry.parentName = parentName;
    const char* arch = element->Attribute("arch");
    entry.isX86 = arch && foldedCase(arch) == "x86" ? 1 : 0;
    entry.dontDelete = flagOf(element->Attribute("dontdelete"), parent.dontDelete);
    entry.ignoreInstallErrors = flagOf(element->Attribute("ignoreinstallerrors"), parent.ignoreInstallErrors);
    entry.allowDowngrade = flagOf(element->Attribute("allowdowngrade"), parent.allowDowngrade);
    return entry;
}

void readTree(FileNode& parent, TiXmlNode* node, const TqString& parentName)
{
    for (TiXmlElement* directory : elementsNamed(node, "directory"))
    {
        FileNode entry = entryOf(directory, parent, parentName, true);
        if (!entry.name.IsSet())
            continue;
        const TqString name = entry.name;
        parent.children[name] = entry;
        readTree(parent.children[name], directory, name);
    }
    for (TiXmlElement* file : elementsNamed(node, "file"))
    {
        FileNode entry = entryOf(file, parent, parentName, false);
        if (!entry.name.IsSet())
            continue;
        entry.configuration = attributeOf(file, "configuration");
        if (TiXmlElement* shortCut = firstNamedElement(file, "shortCut"))
        {
            entry.shortCut.name = attributeOf(shortCut, "name");
            entry.shortCut.dir = attributeOf(shortCut, "dir");
        }
        parent.children[entry.name] = entry;
    }
}

std::vector<TqString> itemNames(TiXmlElement* list, const char* itemName)
{
    std::vector<TqString> names;
    for (TiXmlElement* item : elementsNamed(list, itemName))
        if (item->Attribute("name"))
            names.push_back(TqString(item->Attribute("name")));
    return names;
}

void readFamilies(TiXmlElement* families, SKUDefinition& model)
{
    for (TiXmlElement* family : elementsNamed(families, "family"))
    {
        if (!family->Attribute("name"))
            continue;
        const TqString name(family->Attribute("name"));
        if (TiXmlElement* plugins = firstNamedElement(family, "plugins"))
        {
            const std::vector<TqString> names = itemNames(plugins, "plugin");
            if (!names.empty() && model.familyPlugins.count(name) == 0)
                model.familyPlugins[name] = names;
        }
        if (TiXmlElement* contents = firstNamedElement(family, "contents"))
        {
            const std::vector<TqString> names = itemNames(contents, "content");
            if (!names.empty() && model.familyContents.count(name) == 0)
                model.familyContents[name] = names;
        }
        TiXmlElement* featuresMask = firstNamedElement(family, "featuresmask");
        if (featuresMask && featuresMask->Attribute("name") && model.familyFeatureMasks.count(name) == 0)
            model.familyFeatureMasks[name].fromString(attributeOf(featuresMask, "name"));
        TiXmlElement* contentMask = firstNamedElement(family, "contentmask");
        if (contentMask && contentMask->Attribute("name"))
            model.familyContentMasks[name] = attributeOf(contentMask, "name");
    }
}

// What a fresh model holds after reading the document.
SKUDefinition plainReading(TiXmlDocument& document)
{
    SKUDefinition model;
    TiXmlElement* product = firstNamedElement(&document, "product");
    if (!product)
        return model;
    if (TiXmlElement* sku = firstNamedElement(product, "sku"))
    {
        model.skuInfo.id = attributeOf(sku, "ID");
        model.skuInfo.name = attributeOf(sku, "name");
        model.skuInfo.build = attributeOf(sku, "build");
        model.skuInfo.prefix = attributeOf(sku, "prefix");
    }
    if (TiXmlElement* families = firstNamedElement(product, "families"))
        readFamilies(families, model);
    readHosts(firstNamedElement(product, "hosts"), model.hostNames, model.hostVariants, model.hostFamilies,
              model.hostCompilerOptions);
    if (TiXmlElement* buildHosts = firstNamedElement(product, "hostsForBuild"))
    {
        readHosts(buildHosts, model.buildHostNames, model.buildHostVariants, model.buildHostFamilies,
                  model.hostCompilerOptions);
    }
    else
    {
        model.buildHostNames = model.hostNames;
        model.buildHostVariants = model.hostVariants;
        model.buildHostFamilies = model.hostFamilies;
    }
    if (TiXmlNode* installFiles = firstNamed(product, "installFiles"))
    {
        model.installRoot.name = TqString("");
        model.installRoot.isDirectory = true;
        readTree(model.installRoot, installFiles, TqString());
    }
    TiXmlElement* install = firstElementNamed(product, "install");
    if (!install)
        return model;
    if (TiXmlElement* link = firstElementNamed(install, "link"))
        model.installLinkUrl = attributeOf(link, "url");
    TiXmlElement* noAccount = firstElementNamed(install, "noAccount");
    if (!noAccount)
        return model;
    if (TiXmlElement* internetOn = firstElementNamed(noAccount, "internetOn"))
        model.internetOnUrl = attributeOf(internetOn, "url");
    if (TiXmlElement* internetOff = firstElementNamed(noAccount, "internetOff"))
        model.internetOffUrl = attributeOf(internetOff, "url");
    return model;
}

// How deeply the parser nested elements in the tree it built: its recursion depth.
size_t elementDepth(const TiXmlNode* node)
{
    size_t deepest = 0;
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
        deepest = std::max(deepest, elementDepth(child));
    return node->ToElement() ? deepest + 1 : deepest;
}

// The text of a file as the parser's file loading takes it: up to the first NUL, CR LF and CR as LF.
std::string loadedText(const std::string& bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\0'; ++i)
    {
        if (bytes[i] == '\r')
        {
            text += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        }
        else
        {
            text += bytes[i];
        }
    }
    return text;
}

bool admitted(const std::string& text)
{
    return XMLNesting::deepest(text.data(), text.size(), deepestAdmitted) <= deepestAdmitted;
}

// The reader against TinyXML's own reading of the same bytes, from text and from a file.
void checkAgainstParser(const std::string& bytes, const SKUDefinition& model)
{
    // The text handed to the parser ends at its first NUL: nothing after it may reach the model.
    const std::string cText(bytes.c_str());
    SKUDefinition upToNul;
    upToNul.parse(textOf(cText));
    check(sameModels(model, upToNul), "bytes after a NUL stay unread");

    // Padded: the parser looks a few bytes past a lead byte without minding the end.
    const std::string text = cText + std::string(4, '\0');
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    const size_t depth = elementDepth(&document);
    const size_t scanned = XMLNesting::deepest(cText.data(), cText.size(), 1u << 20);
    check(scanned >= depth, "the nesting scan sees at least the depth the parser reaches");
    if (admitted(cText))
        check(sameModels(upToNul, plainReading(document)), "the model is the plain reading of the document");
    else
        check(sameModels(upToNul, SKUDefinition()), "a refused definition gives an empty model");

    static const std::string path = "/tmp/skudefinition-fuzz-" + std::to_string(getpid()) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    SKUDefinition fromFile;
    fromFile.fromFile(TqString(path.c_str()));

    const std::string loaded = loadedText(bytes);
    SKUDefinition fromLoadedText;
    fromLoadedText.parse(textOf(loaded));
    check(sameModels(fromFile, fromLoadedText), "a file reads as its loaded text");
    // TinyXML's own loading leaves the bytes after a NUL in its buffer and can step over its
    // terminator after a lead byte, so it serves as the reference only where neither can happen.
    bool leadByteAtEnd = false;
    for (size_t i = loaded.size() > 4 ? loaded.size() - 4 : 0; i < loaded.size(); ++i)
        leadByteAtEnd = leadByteAtEnd || static_cast<unsigned char>(loaded[i]) >= 0xC0;
    if (admitted(loaded) && bytes.find('\0') == std::string::npos && !leadByteAtEnd)
    {
        TiXmlDocument loadedDocument;
        file = std::fopen(path.c_str(), "rb");
        if (file)
        {
            loadedDocument.LoadFile(file, TIXML_DEFAULT_ENCODING);
            std::fclose(file);
            check(sameModels(fromFile, plainReading(loadedDocument)), "a file reads as the parser loads it");
        }
    }
    std::remove(path.c_str());
}

// A definition with every element, read first into the object that is then reused.
const char* const richDefinition =
    "<product><sku ID='I' name='N' build='B' prefix='P'/>"
    "<families><family name='F'><plugins><plugin name='p'/></plugins><contents><content name='c'/></contents>"
    "<featuresmask name='ff'/><contentmask name='m'/></family></families>"
    "<hosts><host name='H' arch='x86;x64' families='F' compilerOptions='-O2'/></hosts>"
    "<hostsForBuild><host name='B' compilerOptions='-O3'/></hostsForBuild>"
    "<installFiles><directory fileName='d' dontdelete='1'><file fileName='f'><shortCut name='s' "
    "dir='t'/></file>"
    "</directory></installFiles>"
    "<install><link url='l'/><noAccount><internetOn url='on'/><internetOff url='off'/></noAccount></install>"
    "</product>";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const TqString text(reinterpret_cast<const char*>(bytes), size);

    SKUDefinition model;
    model.parse(text);
    checkModel(model);
    checkAgainstParser(std::string(reinterpret_cast<const char*>(bytes), size), model);

    SKUDefinition again;
    again.parse(text);
    check(sameModels(model, again), "the same text gives the same model");

    SKUDefinition reused;
    reused.parse(TqString(richDefinition));
    check(reused.skuInfo.name.IsSet() && !reused.installRoot.children.empty(), "the rich definition is read");
    reused.parse(text);
    check(sameModels(model, reused), "a read keeps nothing of an earlier one");

    const SKUDefinition copy = model;
    check(sameModels(model, copy), "a copy holds the same model");

    // A short name taken from the input, so the queries also meet names the model does not know.
    checkQueries(model, text.Substr(0, 8));
    return 0;
}
