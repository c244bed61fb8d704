#include "InstallFilesCheck.h"

#include <set>
#include <string>

#include "LineEscaping.h"
#include "XMLParser.h"

namespace
{

const char kInstallFiles[] = "installFiles";

// What each element of the install-file tree may hold, as the reader reads it.
struct ElementRule
{
    const char* name;
    std::vector<const char*> children;
    std::vector<const char*> attributes;
    std::vector<const char*> flags; // attributes read as "0" or "1"
};

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

const ElementRule* ruleFor(const std::string& name)
{
    for (const ElementRule& rule : kRules)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

bool sameIgnoringCase(const std::string& name, const char* known)
{
    return TqString(name.c_str()).EqualsIgnoreCase(TqString(known));
}

// The known name that name spells in another letter case; null when there is none.
const char* otherCaseOf(const std::string& name, const std::vector<const char*>& known)
{
    for (const char* candidate : known)
        if (name != candidate && sameIgnoringCase(name, candidate))
            return candidate;
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

class Check
{
public:
    InstallFilesFindings findings;

    // Walks element's children; false once a refusal is found.
    bool walk(const TiXmlElement& element, const ElementRule& rule)
    {
        for (const TiXmlElement* child = element.FirstChildElement(); child;
             child = child->NextSiblingElement())
        {
            const std::string& name = child->ValueStr();
            const ElementRule* childRule = nullptr;
            for (const char* allowed : rule.children)
                if (name == allowed)
                    childRule = ruleFor(name);
            if (childRule == nullptr)
            {
                if (!unknownElement(*child, rule))
                    return false;
                continue;
            }
            // A shortcut is part of its file's entry, not an entry of its own.
            listsEntry = listsEntry || std::string(childRule->name) != "shortCut";
            if (!attributes(*child, *childRule) || !walk(*child, *childRule))
                return false;
        }
        return true;
    }

    bool listsEntry = false;

private:
    bool unknownElement(const TiXmlElement& element, const ElementRule& parent)
    {
        const std::string& name = element.ValueStr();
        std::vector<const char*> known;
        for (const ElementRule& rule : kRules)
            if (rule.name != kInstallFiles)
                known.push_back(rule.name);
        if (const char* spelling = otherCaseOf(name, known))
            return refuse(atLine(element.Row()) + "unknown element <" + shown(name) +
                          ">; the known one is spelt <" + spelling + ">");
        note("element " + name, atLine(element.Row()) + "unknown element <" + shown(name) + "> in <" +
                                    parent.name + ">, ignored");
        return true;
    }

    bool attributes(const TiXmlElement& element, const ElementRule& rule)
    {
        for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute;
             attribute = attribute->Next())
        {
            const std::string& name = attribute->NameTStr();
            const TqString where = atLine(attribute->Row());
            bool known = false;
            for (const char* candidate : rule.attributes)
                known = known || name == candidate;
            bool flag = false;
            for (const char* candidate : rule.flags)
                flag = flag || name == candidate;
            const std::string& value = attribute->ValueStr();
            if (flag && value != "0" && value != "1")
                return refuse(where + shown(name) + "=\"" + shown(value) + "\" on <" + rule.name +
                              "> is neither \"0\" nor \"1\"");
            if (known)
                continue;
            if (const char* spelling = otherCaseOf(name, rule.attributes))
                return refuse(where + "unknown attribute " + shown(name) + "= on <" + rule.name +
                              ">; the known one is spelt " + spelling + "=");
            note("attribute " + name,
                 where + "unknown attribute " + shown(name) + "= on <" + rule.name + ">, ignored");
        }
        return true;
    }

    bool refuse(const TqString& why)
    {
        findings.refusal = why;
        return false;
    }

    // Each unknown name is said once, where it first occurs, whatever holds it.
    void note(const std::string& key, const TqString& line)
    {
        if (noted.insert(key).second)
            findings.ignored.push_back(line);
    }

    std::set<std::string> noted;
};

} // namespace

InstallFilesFindings CheckInstallFiles(const TiXmlDocument& document)
{
    Check check;
    const TiXmlElement* product = document.FirstChildElement("product");
    const TiXmlElement* installFiles = product ? product->FirstChildElement(kInstallFiles) : nullptr;
    if (installFiles == nullptr)
    {
        for (const TiXmlElement* child = product ? product->FirstChildElement() : nullptr; child;
             child = child->NextSiblingElement())
            if (otherCaseOf(child->ValueStr(), {kInstallFiles}))
            {
                check.findings.refusal = atLine(child->Row()) + "unknown element <" +
                                         shown(child->ValueStr()) + ">; the known one is spelt <" +
                                         kInstallFiles + ">";
                return check.findings;
            }
        check.findings.refusal = "the definition lists nothing to remove (no installFiles element)";
        return check.findings;
    }
    if (check.walk(*installFiles, kRules[0]) && !check.listsEntry)
        check.findings.refusal = "the definition lists nothing to remove (an empty installFiles element)";
    if (check.findings.refusal.IsSet())
        check.findings.ignored.clear();
    return check.findings;
}
