#include "InstallFilesCheck.h"

#include <algorithm>
#include <set>
#include <string>

#include "LineEscaping.h"
#include "XMLParser.h"

// What each element of the install-file tree may hold, as the reader reads it. The names are
// strings, so that comparing one with a name of another length stops at the lengths: every entry
// of a large definition is checked against these lists.
struct ElementRule
{
    std::string name;
    std::vector<std::string> children;
    std::vector<std::string> attributes;
    std::vector<std::string> flags; // attributes read as "0" or "1"
};

namespace
{

const char kInstallFiles[] = "installFiles";

const ElementRule kRules[] = {
    {kInstallFiles, {"directory", "file"}, {}, {}},
    {"directory",
     {"directory", "file"},
     {"fileName", "dontdelete", "ignoreinstallerrors", "allowdowngrade"},
     {"dontdelete", "ignoreinstallerrors", "allowdowngrade"}},
    {"file",
     {"shortCut"},
     {"fileName", "dontdelete", "ignoreinstallerrors", "allowdowngrade", "arch", "configuration"},
     {"dontdelete", "ignoreinstallerrors", "allowdowngrade"}},
    {"shortCut", {}, {"name", "dir"}, {}},
};

const ElementRule& kListRule = kRules[0];
const ElementRule& kDirectoryRule = kRules[1];
const ElementRule& kShortCutRule = kRules[3];

const ElementRule* ruleFor(const std::string& name)
{
    for (const ElementRule& rule : kRules)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

bool isOneOf(const std::string& name, const std::vector<std::string>& names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool sameIgnoringCase(const std::string& name, const std::string& known)
{
    return TqString(name.c_str()).EqualsIgnoreCase(TqString(known.c_str()));
}

// The known name that name spells in another letter case; null when there is none.
const char* otherCaseOf(const std::string& name, const std::vector<std::string>& known)
{
    for (const std::string& candidate : known)
        if (name != candidate && sameIgnoringCase(name, candidate))
            return candidate.c_str();
    return nullptr;
}

TqString shown(const std::string& text)
{
    return EscapeLineText(TqString(text.data(), static_cast<unsigned long>(text.size())));
}

TqString atLine(int row)
{
    return TqString("line ") + TqString(std::to_string(row).c_str()) + ": ";
}

} // namespace

bool InstallFilesCheck::Element(const TiXmlElement& element, bool inDirectory, bool intoDirectory)
{
    return child(element, inDirectory ? kDirectoryRule : kListRule, intoDirectory);
}

InstallFilesFindings InstallFilesCheck::Findings() const
{
    InstallFilesFindings found = findings;
    if (!found.refusal.IsSet() && !listsEntry)
        found.refusal = "the definition lists nothing to remove (an empty installFiles element)";
    if (found.refusal.IsSet())
        found.ignored.clear();
    return found;
}

TqString InstallFilesCheck::RefusalWithoutList(const TiXmlElement* product)
{
    for (const TiXmlElement* child = product ? product->FirstChildElement() : nullptr; child;
         child = child->NextSiblingElement())
        if (otherCaseOf(child->ValueStr(), {kInstallFiles}))
            return atLine(child->Row()) + "unknown element <" + shown(child->ValueStr()) +
                   ">; the known one is spelt <" + kInstallFiles + ">";
    return "the definition lists nothing to remove (no installFiles element)";
}

// Walks element's children; false once a refusal is found.
bool InstallFilesCheck::walk(const TiXmlElement& element, const ElementRule& rule)
{
    for (const TiXmlElement* entry = element.FirstChildElement(); entry; entry = entry->NextSiblingElement())
        if (!child(*entry, rule, true))
            return false;
    return true;
}

bool InstallFilesCheck::child(const TiXmlElement& element, const ElementRule& parentRule, bool intoDirectory)
{
    const std::string& name = element.ValueStr();
    const ElementRule* rule = isOneOf(name, parentRule.children) ? ruleFor(name) : nullptr;
    if (rule == nullptr)
        return unknownElement(element, parentRule);
    // A shortcut is part of its file's entry, not an entry of its own.
    listsEntry = listsEntry || rule != &kShortCutRule;
    if (!attributes(element, *rule))
        return false;
    return (!intoDirectory && rule == &kDirectoryRule) || walk(element, *rule);
}

bool InstallFilesCheck::unknownElement(const TiXmlElement& element, const ElementRule& parent)
{
    const std::string& name = element.ValueStr();
    std::vector<std::string> known;
    for (const ElementRule& rule : kRules)
        if (rule.name != kInstallFiles)
            known.push_back(rule.name);
    if (const char* spelling = otherCaseOf(name, known))
        return refuse(atLine(element.Row()) + "unknown element <" + shown(name) +
                      ">; the known one is spelt <" + spelling + ">");
    note("element " + name, atLine(element.Row()) + "unknown element <" + shown(name) + "> in <" +
                                parent.name.c_str() + ">, ignored");
    return true;
}

bool InstallFilesCheck::attributes(const TiXmlElement& element, const ElementRule& rule)
{
    for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute; attribute = attribute->Next())
    {
        const std::string& name = attribute->NameTStr();
        const std::string& value = attribute->ValueStr();
        if (isOneOf(name, rule.flags) && value != "0" && value != "1")
            return refuse(atLine(attribute->Row()) + shown(name) + "=\"" + shown(value) + "\" on <" +
                          rule.name.c_str() + "> is neither \"0\" nor \"1\"");
        if (isOneOf(name, rule.attributes))
            continue;
        if (const char* spelling = otherCaseOf(name, rule.attributes))
            return refuse(atLine(attribute->Row()) + "unknown attribute " + shown(name) + "= on <" +
                          rule.name.c_str() + ">; the known one is spelt " + spelling + "=");
        note("attribute " + name, atLine(attribute->Row()) + "unknown attribute " + shown(name) + "= on <" +
                                      rule.name.c_str() + ">, ignored");
    }
    return true;
}

bool InstallFilesCheck::refuse(const TqString& why)
{
    findings.refusal = why;
    return false;
}

void InstallFilesCheck::note(const std::string& key, const TqString& line)
{
    if (noted.insert(key).second)
        findings.ignored.push_back(line);
}

InstallFilesFindings CheckInstallFiles(const TiXmlDocument& document)
{
    const TiXmlElement* product = document.FirstChildElement("product");
    const TiXmlElement* installFiles = product ? product->FirstChildElement(kInstallFiles) : nullptr;
    if (installFiles == nullptr)
        return InstallFilesFindings{InstallFilesCheck::RefusalWithoutList(product), {}};
    InstallFilesCheck check;
    for (const TiXmlElement* entry = installFiles->FirstChildElement(); entry;
         entry = entry->NextSiblingElement())
        if (!check.Element(*entry, false, true))
            break;
    return check.Findings();
}
