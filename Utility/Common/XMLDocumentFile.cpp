#include "XMLDocumentFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "XMLNesting.h"
#include "XMLParser.h"

namespace
{

// The parser looks up to three bytes past a UTF-8 lead byte or a byte order mark without minding
// the end of the text; these NUL bytes keep those reads inside the buffer.
const size_t parserPadding = 4;

std::vector<char> parserText(const char* bytes, size_t length)
{
    // The text ends at its first NUL byte; the parser would step over one inside a UTF-8 sequence.
    if (const void* nul = memchr(bytes, '\0', length))
        length = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
    std::vector<char> text(length + parserPadding, '\0');
    std::copy(bytes, bytes + length, text.begin());
    return text;
}

// The whole file as the parser's own file loading prepares it: up to the first NUL byte, with CR
// and CR LF line ends turned into LF.
std::vector<char> fileText(FILE* file, size_t sizeHint)
{
    // Room for the padding from the start, so that adding it never moves the text.
    std::vector<char> bytes(sizeHint + 1 + parserPadding);
    size_t length = 0;
    for (;;)
    {
        const size_t room = bytes.size() - parserPadding;
        length += fread(bytes.data() + length, 1, room - length, file);
        if (length < room)
            break;
        bytes.resize(bytes.size() * 2);
    }
    // The text ends at its first NUL byte; up to the first CR nothing changes.
    const char* nul = static_cast<const char*>(memchr(bytes.data(), '\0', length));
    if (nul)
        length = static_cast<size_t>(nul - bytes.data());
    const char* firstReturn = static_cast<const char*>(memchr(bytes.data(), '\r', length));
    size_t written = firstReturn ? static_cast<size_t>(firstReturn - bytes.data()) : length;
    for (size_t read = written; read < length; ++read)
    {
        if (bytes[read] == '\r')
        {
            bytes[written++] = '\n';
            if (read + 1 < length && bytes[read + 1] == '\n')
                ++read;
        }
        else
        {
            bytes[written++] = bytes[read];
        }
    }
    std::fill(bytes.begin() + written, bytes.begin() + written + parserPadding, '\0');
    bytes.resize(written + parserPadding);
    return bytes;
}

// Parses text prepared by parserText or fileText, unless it nests too deeply.
bool parseSafely(TiXmlDocument& document, const std::vector<char>& text)
{
    const size_t length = text.size() - parserPadding;
    if (XMLNesting::deepest(text.data(), length, XMLDocumentFile::deepestNesting) >
        XMLDocumentFile::deepestNesting)
        return false;
    document.Parse(text.data(), nullptr, TIXML_DEFAULT_ENCODING);
    return !document.Error();
}

} // namespace

bool XMLDocumentFile::Load(const TqString& path, TiXmlDocument& document)
{
    FILE* file = fopen(path.ConstData(), "rb");
    if (!file)
        return false;
    // Only a regular file is read: a directory opens too, but reports an enormous size.
    struct stat status;
    const bool loaded = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) &&
                        parseSafely(document, fileText(file, static_cast<size_t>(status.st_size)));
    fclose(file);
    return loaded;
}

const TiXmlElement* XMLDocumentFile::LoadRoot(const TqString& path, TiXmlDocument& document,
                                              const char* rootName)
{
    if (!Load(path, document))
        return nullptr;
    const TiXmlElement* root = document.RootElement();
    return root != nullptr && strcmp(root->Value(), rootName) == 0 ? root : nullptr;
}

bool XMLDocumentFile::Parse(const char* bytes, size_t length, TiXmlDocument& document)
{
    return parseSafely(document, parserText(bytes, length));
}
