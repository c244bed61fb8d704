#include "TargetPathFile.h"

#include <cstdio>
#include <cstring>

#include "XMLParser.h"

bool TargetPathFile::Read(const TqString& file, TqString& path)
{
    FILE* stream = fopen(file.ConstData(), "rb");
    if (stream == nullptr)
        return false;
    TiXmlDocument document;
    const bool loaded = document.LoadFile(stream);
    fclose(stream);
    const TiXmlElement* root = loaded ? document.RootElement() : nullptr;
    if (root == nullptr || strcmp(root->Value(), "targetPath") != 0)
        return false;
    const TqString value(root->Attribute("path"));
    if (value.IsEmpty())
        return false;
    path = value;
    return true;
}
