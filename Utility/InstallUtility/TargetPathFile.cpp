#include "TargetPathFile.h"

#include <cstring>

#include "XMLDocumentFile.h"
#include "XMLParser.h"

bool TargetPathFile::Read(const TqString& file, TqString& path)
{
    TiXmlDocument document;
    if (!XMLDocumentFile::Load(file, document))
        return false;
    const TiXmlElement* root = document.RootElement();
    if (root == nullptr || strcmp(root->Value(), "targetPath") != 0)
        return false;
    const TqString value(root->Attribute("path"));
    if (value.IsEmpty())
        return false;
    path = value;
    return true;
}
