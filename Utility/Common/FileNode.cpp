#include "FileNode.h"

bool getBoolFlagFromString(const TqString& text, bool defaultValue)
{
    if (text.EqualsIgnoreCase(TqString("0")))
        return false;
    if (text.EqualsIgnoreCase(TqString("1")))
        return true;
    return defaultValue;
}
