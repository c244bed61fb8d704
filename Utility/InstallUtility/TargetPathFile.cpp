#include "TargetPathFile.h"

#include "XMLDocumentFile.h"
#include "XMLParser.h"

bool TargetPathFile::Read(const TqString& file, TqString& path)
{
    TiXmlDocument document;
    const TiXmlElement* root = XMLDocumentFile::LoadRoot(file, document, "targetPath");
    if (root == nullptr)
        return false;
    const TqString value(root->Attribute("path"));
    if (value.IsEmpty())
        return false;
    path = value;
    return true;
}
