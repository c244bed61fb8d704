#include "XMLDocumentFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
// and CR LF line ends turned into LF. False when reading fails.
bool fileText(int fd, size_t sizeHint, std::vector<char>& bytes)
{
    // Room for the padding from the start, so that adding it never moves the text.
    bytes.assign(sizeHint + 1 + parserPadding, '\0');
    size_t length = 0;
    for (;;)
    {
        const size_t room = bytes.size() - parserPadding;
        const ssize_t got = read(fd, bytes.data() + length, room - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        length += static_cast<size_t>(got);
        if (got == 0)
            break;
        if (length == room)
            bytes.resize(bytes.size() * 2);
    }
    // The text ends at its first NUL byte; up to the first CR nothing changes.
    const char* nul = static_cast<const char*>(memchr(bytes.data(), '\0', length));
    if (nul)
        length = static_cast<size_t>(nul - bytes.data());
    const char* firstReturn = static_cast<const char*>(memchr(bytes.data(), '\r', length));
    size_t written = firstReturn ? static_cast<size_t>(firstReturn - bytes.data()) : length;
    for (size_t from = written; from < length; ++from)
    {
        if (bytes[from] == '\r')
        {
            bytes[written++] = '\n';
            if (from + 1 < length && bytes[from + 1] == '\n')
                ++from;
        }
        else
        {
            bytes[written++] = bytes[from];
        }
    }
    std::fill(bytes.begin() + written, bytes.begin() + written + parserPadding, '\0');
    bytes.resize(written + parserPadding);
    return true;
}

// Reads the file at path when it is a regular file. It is opened without blocking and without
// becoming a controlling terminal, so a FIFO or a device named in its place is refused at once
// instead of waiting for a writer or taking over a terminal.
bool loadFileText(const TqString& path, std::vector<char>& text)
{
    const int fd = open(path.ConstData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    bool loaded = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    // A regular file reads the same either way; blocking reads keep the loop simple.
    if (loaded)
    {
        const int flags = fcntl(fd, F_GETFL);
        loaded = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
                 fileText(fd, static_cast<size_t>(status.st_size), text);
    }
    close(fd);
    return loaded;
}

// Parses text prepared by parserText or fileText, unless it nests too deeply. wholeText tells
// whether the parser read to the end: it stops quietly at text outside any element.
bool parseSafely(TiXmlDocument& document, const std::vector<char>& text, bool* wholeText = nullptr)
{
    const size_t length = text.size() - parserPadding;
    if (XMLNesting::deepest(text.data(), length, XMLDocumentFile::deepestNesting) >
        XMLDocumentFile::deepestNesting)
        return false;
    const char* rest = document.Parse(text.data(), nullptr, TIXML_DEFAULT_ENCODING);
    if (wholeText)
        *wholeText = rest == nullptr || *rest == '\0';
    return !document.Error();
}

// Whether the document holds exactly one element at its top level (declarations, comments and
// the like aside).
bool hasOneRoot(const TiXmlDocument& document)
{
    const TiXmlElement* root = document.RootElement();
    return root != nullptr && root->NextSiblingElement() == nullptr;
}

} // namespace

bool XMLDocumentFile::Load(const TqString& path, TiXmlDocument& document)
{
    std::vector<char> text;
    return loadFileText(path, text) && parseSafely(document, text);
}

const TiXmlElement* XMLDocumentFile::LoadRoot(const TqString& path, TiXmlDocument& document,
                                              const char* rootName)
{
    std::vector<char> text;
    bool wholeText = false;
    if (!loadFileText(path, text) || !parseSafely(document, text, &wholeText) || !wholeText ||
        !hasOneRoot(document))
        return nullptr;
    const TiXmlElement* root = document.RootElement();
    return strcmp(root->Value(), rootName) == 0 ? root : nullptr;
}

bool XMLDocumentFile::Parse(const char* bytes, size_t length, TiXmlDocument& document)
{
    return parseSafely(document, parserText(bytes, length));
}
