// Reads arbitrary bytes as a product definition, then asks every query about what was read and
// checks the model's invariants: a read never keeps anything of an earlier one, the same text
// always gives the same model, the host maps only name registered variants, and the install-file
// tree is keyed by its entries' names. Any broken rule aborts, so libFuzzer keeps the input.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "SKUDefinition.h"

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
