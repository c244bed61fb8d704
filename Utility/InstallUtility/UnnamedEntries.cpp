#include "UnnamedEntries.h"

#include "XMLParser.h"

namespace
{

// Walks element beside node, the tree the reader made of it: the same elements, and only into
// directories the tree kept as directories (a file of the same name wins there).
void markBelow(const TiXmlElement& element, FileNode& node)
{
    for (const TiXmlElement* child = element.FirstChildElement(); child; child = child->NextSiblingElement())
    {
        const bool isDirectory = child->ValueStr() == "directory";
        if (!isDirectory && child->ValueStr() != "file")
            continue;
        const char* name = child->Attribute("fileName");
        if (name == nullptr || *name == '\0')
        {
            node.children[TqString()].parentName = node.name;
            continue;
        }
        const auto entry = node.children.find(TqString(name));
        if (isDirectory && entry != node.children.end() && entry->second.isDirectory)
            markBelow(*child, entry->second);
    }
}

} // namespace

void UnnamedEntries::Mark(const TiXmlDocument& document, FileNode& root)
{
    // The same elements the reader takes: the first "product", its first "installFiles".
    const TiXmlNode* product = document.FirstChild("product");
    const TiXmlNode* installFiles =
        product && product->ToElement() ? product->FirstChild("installFiles") : nullptr;
    if (const TiXmlElement* list = installFiles ? installFiles->ToElement() : nullptr)
        markBelow(*list, root);
}
