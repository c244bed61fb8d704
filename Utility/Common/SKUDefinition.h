#ifndef TQ_SKUDEFINITION_H
#define TQ_SKUDEFINITION_H

#include <map>
#include <string>
#include <vector>

#include "FileNode.h"
#include "TqBitSet.h"
#include "TqString.h"

class TiXmlDocument;
class TiXmlElement;
class TiXmlNode;

// The model of one product definition ("sku.xml") and its reader. A read fills the model in one
// pass over the XML tree; afterwards nothing refers to the document. Reading never reports
// failure: a missing or unusable definition shows as unset or empty fields.
class SKUDefinition
{
public:
    // The product's identity, from the attributes of the `sku` element.
    class SKUInfo
    {
    public:
        TqString id;
        TqString name;
        TqString build;
        TqString prefix;
    };

    SKUDefinition() {}

    // Reads the definition file at path; a file that cannot be read leaves the model empty.
    void fromFile(const TqString& path);
    // Reads only skuInfo from the file at path, as fromFile would: for a caller that needs just
    // the product's name, no model is made of the install-file tree, and of a large file only the
    // start is parsed when the sku element stands there, whole (the whole file is still read,
    // checked for nesting and hashed). With digest,
    // the SHA-256 of the file's bytes as read goes there (empty when unread): what a later reader
    // checks to know it acts on the very definition read here.
    void identityFromFile(const TqString& path, std::string* digest = nullptr);
    // Reads a definition from XML text in UTF-8.
    void parse(const TqString& text);
    // Reads a parsed document; the common core of fromFile and parse.
    void parseInner(TiXmlDocument& document);
    // Returns the model to its just-constructed state, so a read never keeps values of an earlier one.
    void clear();

    // Reads one host list (`hosts` or `hostsForBuild`); a null element changes nothing. The options
    // map is emptied first, the other containers are appended to.
    static void fillHostsInfo(TiXmlElement* hostList, std::vector<TqString>& names,
                              std::vector<TqString>& variants,
                              std::map<TqString, std::vector<TqString>>& families,
                              std::map<TqString, TqString>& options);
    // Adds the `directory` and `file` entries below node to parent, recursively; entries inherit
    // the flags of the directory that holds them.
    void parseInstallFiles(FileNode& parent, TiXmlNode* node, const TqString& parentName);

    SKUInfo getSKUInfo();
    // Whether a known family may be used with the host variant, by the `hosts` list.
    bool familyHasHost(const TqString& family, const TqString& host);
    // The same by the `hostsForBuild` list (a copy of `hosts` when the file has none).
    bool familyHasHostBuild(const TqString& family, const TqString& host);
    bool _familyHasHost(const TqString& family, const TqString& host,
                        std::map<TqString, std::vector<TqString>>& familiesByVariant,
                        std::vector<TqString>& variants);

    SKUInfo skuInfo;
    // Family name to plug-in names; a family is known only when it has an entry here.
    std::map<TqString, std::vector<TqString>> familyPlugins;
    std::map<TqString, std::vector<TqString>> familyContents;
    std::map<TqString, TqString> familyContentMasks;
    // Host variant ("Foo32" for x86, "Foo" for x64) to the families the host is restricted to.
    std::map<TqString, std::vector<TqString>> hostFamilies;
    std::vector<TqString> hostNames;
    std::vector<TqString> hostVariants;
    // Shared by both host lists: holds the options of `hostsForBuild` when the file has one.
    std::map<TqString, TqString> hostCompilerOptions;
    std::map<TqString, std::vector<TqString>> buildHostFamilies;
    std::vector<TqString> buildHostNames;
    std::vector<TqString> buildHostVariants;
    FileNode installRoot;
    std::map<TqString, TqBitSet> familyFeatureMasks;
    TqString installLinkUrl;
    TqString internetOffUrl;
    TqString internetOnUrl;

private:
    // parseInner's work. A read that owns its document lets the install-file entries go from it as
    // they are read, so that the document and the model are never both held in full.
    void readDocument(TiXmlDocument& document, bool releaseInstallEntries);
    // readDocument's steps, one per element of `product`; a null element changes nothing.
    void readSKU(const TiXmlElement* sku);
    void readFamilies(TiXmlElement* families);
    void readFamily(TiXmlElement* family, const TqString& name);
    void readHosts(TiXmlElement* product);
    void readInstall(TiXmlElement* install);
};

#endif
