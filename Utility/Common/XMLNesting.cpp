#include "XMLNesting.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "XMLParser.h"

namespace
{

// Byte classes for the walk's fast loops. The parser's own classes are those of the C locale,
// which this program never changes.
enum ByteClass : unsigned short
{
    endOfText = 1,
    ampersand = 2,
    doubleQuote = 4,
    singleQuote = 8,
    lessThan = 16,
    bracket = 32,
    leadByte = 64, // may start a UTF-8 sequence of several bytes
    nameByte = 128,
    whiteSpace = 256,
};

struct ByteClasses
{
    unsigned short of[256] = {};

    ByteClasses()
    {
        for (int c = 0; c < 256; ++c)
        {
            if (c >= 127 || isalnum(c) || c == '_' || c == '-' || c == '.' || c == ':')
                of[c] |= nameByte;
            if (c >= 0xC0)
                of[c] |= leadByte;
            if (c == ' ' || (c >= '\t' && c <= '\r'))
                of[c] |= whiteSpace;
        }
        of[0] |= endOfText;
        of[static_cast<unsigned char>('&')] |= ampersand;
        of[static_cast<unsigned char>('"')] |= doubleQuote;
        of[static_cast<unsigned char>('\'')] |= singleQuote;
        of[static_cast<unsigned char>('<')] |= lessThan;
        of[static_cast<unsigned char>(']')] |= bracket;
    }
};

const ByteClasses classes;

unsigned short classOfEndTag(char first)
{
    return classes.of[static_cast<unsigned char>(first)] & (doubleQuote | singleQuote | lessThan | bracket);
}

// One walk over the text in one way of reading bytes. Each step below is the parser's own step
// for the same construct; a position of null means the parser stops there with an error.
class NestingWalk
{
public:
    NestingWalk(const char* text, size_t length, size_t depthLimit, bool readsUtf8AfterDeclaration)
        : start(text), end(text + length), limit(depthLimit), utf8AfterDeclaration(readsUtf8AfterDeclaration)
    {
    }

    size_t run();
    bool sawDeclaration() const { return declarationSeen; }

private:
    unsigned char at(const char* p) const { return p < end ? static_cast<unsigned char>(*p) : 0; }
    static bool isWhiteSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    static bool isAlpha(unsigned char c) { return c >= 127 || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

    bool startsWith(const char* p, const char* tag, bool ignoreCase) const;
    // Most calls find no white space at all, so that case is decided here.
    const char* skipWhiteSpace(const char* p) const
    {
        if (p < end && !(classes.of[static_cast<unsigned char>(*p)] & whiteSpace) &&
            static_cast<unsigned char>(*p) != 0xEF)
            return p;
        return skipSpaces(p);
    }
    const char* skipSpaces(const char* p) const;
    const char* skipTo(const char* p, char wanted) const;
    const char* nextChar(const char* p) const;
    const char* skipEntity(const char* p) const;
    const char* skipText(const char* p, const char* endTag) const;
    const char* readName(const char* p) const;
    const char* readAttribute(const char* p) const;
    const char* readStartTag(const char* p, bool& opens) const;
    const char* readDeclaration(const char* p) const;
    const char* readNode(const char* p, bool& element, bool& opens) const;
    const char* readTopNode(const char* p, size_t depth, bool& element, bool& opens);
    const char* skipEndTag(const char* p) const;
    const char* readOpening(const char* p, size_t& depth, size_t& deepest);
    const char* skipContent(const char* p) const;

    const char* start;
    const char* end;
    size_t limit;
    bool utf8AfterDeclaration;
    bool utf8 = false;
    bool declarationSeen = false;
};

bool NestingWalk::startsWith(const char* p, const char* tag, bool ignoreCase) const
{
    // Only ASCII letters fold: the tags compared are ASCII, and other bytes never match them.
    const auto fold = [ignoreCase](unsigned char c)
    { return ignoreCase && c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (; *tag; ++p, ++tag)
    {
        const unsigned char c = at(p);
        if (c == 0 || fold(c) != fold(static_cast<unsigned char>(*tag)))
            return false;
    }
    return true;
}

const char* NestingWalk::skipSpaces(const char* p) const
{
    for (;;)
    {
        while (p < end && (classes.of[static_cast<unsigned char>(*p)] & whiteSpace))
            ++p;
        // In UTF-8 the parser also passes over byte order marks and the two non-characters.
        if (utf8 && at(p) == 0xEF &&
            ((at(p + 1) == 0xBB && at(p + 2) == 0xBF) || (at(p + 1) == 0xBF && at(p + 2) >= 0xBE)))
        {
            p += 3;
        }
        else
        {
            return p;
        }
    }
}

// Up to the next `wanted` byte or the end of the text, byte by byte.
const char* NestingWalk::skipTo(const char* p, char wanted) const
{
    while (at(p) && at(p) != static_cast<unsigned char>(wanted))
        ++p;
    return p;
}

// One character of text or of a value: a UTF-8 sequence is taken whole by its lead byte, whatever
// follows it, and "&#" starts a character reference that runs to the next ';'.
const char* NestingWalk::nextChar(const char* p) const
{
    const int length = utf8 ? TiXmlBase::utf8ByteTable[at(p)] : 1;
    if (length != 1)
        return length ? p + length : nullptr;
    return at(p) == '&' ? skipEntity(p) : p + 1;
}

const char* NestingWalk::skipEntity(const char* p) const
{
    if (at(p + 1) != '#' || !at(p + 2))
        return p + 1; // a named entity is plain text as far as nesting goes
    const bool hexadecimal = at(p + 2) == 'x';
    if (hexadecimal && !at(p + 3))
        return nullptr;
    const char* semicolon = hexadecimal ? p + 3 : p + 2;
    while (at(semicolon) && at(semicolon) != ';')
        ++semicolon;
    if (!at(semicolon))
        return nullptr;
    // Only the digits between the semicolon and the nearest 'x' (or '#') before it are checked.
    for (const char* digit = semicolon - 1; at(digit) != (hexadecimal ? 'x' : '#'); --digit)
    {
        if (!(hexadecimal ? isxdigit(at(digit)) : isdigit(at(digit))))
            return nullptr;
    }
    return semicolon + 1;
}

// Text up to and past endTag; null when the text ends first or the parser refuses a character.
const char* NestingWalk::skipText(const char* p, const char* endTag) const
{
    // Bytes of no other class are single characters the parser simply passes.
    const unsigned short stops = endOfText | ampersand | classOfEndTag(endTag[0]) | (utf8 ? leadByte : 0);
    const size_t endLength = endTag[1] ? strlen(endTag) : 1;
    for (;;)
    {
        while (p < end && !(classes.of[static_cast<unsigned char>(*p)] & stops))
            ++p;
        if (!at(p) || (at(p) == static_cast<unsigned char>(endTag[0]) &&
                       (endLength == 1 || startsWith(p, endTag, false))))
            break;
        p = nextChar(p);
        if (!p)
            return nullptr;
    }
    if (!at(p))
        return nullptr;
    p += endLength;
    return at(p) ? p : nullptr;
}

const char* NestingWalk::readName(const char* p) const
{
    if (!(isAlpha(at(p)) || at(p) == '_'))
        return nullptr;
    while (p < end && (classes.of[static_cast<unsigned char>(*p)] & nameByte))
        ++p;
    return p;
}

const char* NestingWalk::readAttribute(const char* p) const
{
    p = readName(skipWhiteSpace(p));
    if (!p || !at(p))
        return nullptr;
    p = skipWhiteSpace(p);
    if (at(p) != '=')
        return nullptr;
    p = skipWhiteSpace(p + 1);
    if (!at(p))
        return nullptr;
    if (at(p) == '"' || at(p) == '\'')
        return skipText(p + 1, at(p) == '"' ? "\"" : "'");
    while (at(p) && !isWhiteSpace(at(p)) && at(p) != '/' && at(p) != '>')
    {
        if (at(p) == '"' || at(p) == '\'')
            return nullptr;
        ++p;
    }
    return p;
}

// An element's start tag from its '<'; opens tells whether content follows (no "/>").
const char* NestingWalk::readStartTag(const char* p, bool& opens) const
{
    p = readName(skipWhiteSpace(p + 1));
    while (p && at(p))
    {
        p = skipWhiteSpace(p);
        if (at(p) == '/')
        {
            opens = false;
            return at(p + 1) == '>' ? p + 2 : nullptr;
        }
        if (at(p) == '>')
        {
            opens = true;
            return p + 1;
        }
        p = readAttribute(p);
    }
    return nullptr;
}

const char* NestingWalk::readDeclaration(const char* p) const
{
    p += 5;
    while (p && at(p))
    {
        if (at(p) == '>')
            return p + 1;
        p = skipWhiteSpace(p);
        if (startsWith(p, "version", true) || startsWith(p, "encoding", true) ||
            startsWith(p, "standalone", true))
        {
            p = readAttribute(p);
        }
        else
        {
            while (at(p) && at(p) != '>' && !isWhiteSpace(at(p)))
                ++p;
        }
    }
    return nullptr;
}

// One node from its '<'; element tells whether it is an element (one level deeper, whether or not
// its tag can be read) and opens whether content follows. An unterminated comment or unknown node
// ends at the end of the text.
const char* NestingWalk::readNode(const char* p, bool& element, bool& opens) const
{
    element = false;
    opens = false;
    const unsigned char kind = at(p + 1);
    if (kind == '?' && startsWith(p, "<?xml", true))
        return readDeclaration(p);
    if (kind == '!' && startsWith(p, "<!--", false))
    {
        for (p += 4; at(p) && !startsWith(p, "-->", false); ++p)
        {
        }
        return at(p) ? p + 3 : p;
    }
    if (kind == '!' && startsWith(p, "<![CDATA[", false))
    {
        for (p += 9; at(p) && !startsWith(p, "]]>", false); ++p)
        {
        }
        return skipText(p, "]]>");
    }
    element = isAlpha(kind) || kind == '_';
    if (element)
        return readStartTag(p, opens);
    p = skipTo(p + 1, '>');
    return at(p) ? p + 1 : p;
}

// readNode, and the encoding switch after the first declaration at the top level.
const char* NestingWalk::readTopNode(const char* p, size_t depth, bool& element, bool& opens)
{
    const bool declaration = depth == 0 && at(p + 1) == '?' && startsWith(p, "<?xml", true);
    p = readNode(p, element, opens);
    if (declaration && !declarationSeen)
    {
        declarationSeen = true;
        utf8 = utf8 || utf8AfterDeclaration;
    }
    return p;
}

// The parser stops unless an end tag names the open element; nothing after it matters then, so
// the name is not compared here.
const char* NestingWalk::skipEndTag(const char* p) const
{
    p = skipTo(p, '>');
    return at(p) ? p + 1 : nullptr;
}

// A node from its '<' that is not an end tag; an element is one level deeper than depth, and the
// levels below it are open until its end tag when it has content.
const char* NestingWalk::readOpening(const char* p, size_t& depth, size_t& deepest)
{
    bool element = false;
    bool opens = false;
    p = readTopNode(p, depth, element, opens);
    if (element)
        deepest = std::max(deepest, depth + 1);
    if (opens)
        ++depth;
    return p;
}

// Text inside an element, up to the '<' that ends it.
const char* NestingWalk::skipContent(const char* p) const
{
    p = skipText(p, "<");
    return p ? p - 1 : nullptr;
}

size_t NestingWalk::run()
{
    utf8 = at(start) == 0xEF && at(start + 1) == 0xBB && at(start + 2) == 0xBF;
    size_t depth = 0;
    size_t deepest = 0;
    const char* p = skipWhiteSpace(start);
    while (p && at(p) && deepest <= limit)
    {
        // Text outside every element ends the document.
        if (at(p) != '<' && depth == 0)
            break;
        if (at(p) != '<')
        {
            p = skipContent(p);
        }
        else if (depth > 0 && at(p + 1) == '/')
        {
            --depth;
            p = skipEndTag(p);
        }
        else
        {
            p = readOpening(p, depth, deepest);
        }
        if (p)
            p = skipWhiteSpace(p);
    }
    return deepest;
}

bool hasLeadBytes(const char* text, size_t length)
{
    return std::any_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) >= 0xC0; });
}

} // namespace

namespace XMLNesting
{

size_t deepest(const char* text, size_t length, size_t limit)
{
    // Without a byte order mark the parser reads bytes until the first declaration, then either
    // keeps doing so or switches to UTF-8 as that declaration says; walking both ways covers both.
    // Text without bytes from 0xC0 up reads the same both ways.
    NestingWalk bytes(text, length, limit, false);
    size_t deepest = bytes.run();
    if (deepest <= limit && bytes.sawDeclaration() && hasLeadBytes(text, length))
    {
        NestingWalk switching(text, length, limit, true);
        deepest = std::max(deepest, switching.run());
    }
    return deepest;
}

} // namespace XMLNesting
