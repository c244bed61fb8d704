#include "TargetPathFile.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "XMLParser.h"

bool TargetPathFile::Read(const TqString& file, TqString& path)
{
    FILE* stream = fopen(file.ConstData(), "rb");
    if (stream == nullptr)
        return false;
    // Only a regular file: the parser would try to read a directory or a device whole.
    struct stat status;
    const bool regular = fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
    TiXmlDocument document;
    const bool loaded = regular && document.LoadFile(stream);
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
