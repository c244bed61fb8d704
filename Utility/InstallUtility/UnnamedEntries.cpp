#include "UnnamedEntries.h"

#include "XMLParser.h"

namespace
{

// Walks element beside node, the tree the reader made of it: the same elements, and only into
// directories the tree kept as directories (a file of the same name wins there).
unsigned long markBelow(const TiXmlElement& element, FileNode& node)
{
    unsigned long count = 0;
    for (const TiXmlElement* child = element.FirstChildElement(); child; child = child->NextSiblingElement())
    {
        const bool isDirectory = child->ValueStr() == "directory";
        if (!isDirectory && child->ValueStr() != "file")
            continue;
        const char* name = child->Attribute("fileName");
        if (name == nullptr || *name == '\0')
        {
            FileNode& unnamed = node.children[TqString()];
            unnamed.parentName = node.name;
            ++count;
            continue;
        }
        const auto entry = node.children.find(TqString(name));
        if (isDirectory && entry != node.children.end() && entry->second.isDirectory)
            count += markBelow(*child, entry->second);
    }
    return count;
}

} // namespace

unsigned long UnnamedEntries::Mark(const TiXmlDocument& document, FileNode& root)
{
    const TiXmlNode* product = document.FirstChild("product");
    const TiXmlNode* installFiles =
        product && product->ToElement() ? product->FirstChild("installFiles") : nullptr;
    const TiXmlElement* list = installFiles ? installFiles->ToElement() : nullptr;
    return list ? markBelow(*list, root) : 0;
}
