#include "FileNode.h"

bool getBoolFlagFromString(const TqString& text, bool defaultValue)
{
    // Only whole one-character texts count, so the content may be read up to its NUL.
    return text.Size() == 1 ? getBoolFlagFromString(text.ConstData(), defaultValue) : defaultValue;
}

bool getBoolFlagFromString(const char* text, bool defaultValue)
{
    if (!text || !text[0] || text[1])
        return defaultValue;
    if (text[0] == '0')
        return false;
    if (text[0] == '1')
        return true;
    return defaultValue;
}
