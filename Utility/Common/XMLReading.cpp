#include "XMLReading.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "FileDescriptor.h"
#include "InstallEntries.h"
#include "SKUDefinition.h"
#include "Sha256.h"
#include "XMLNesting.h"
#include "XMLParser.h"

namespace
{

// The parser looks up to three bytes past a UTF-8 lead byte or a byte order mark without minding
// the end of the text; these NUL bytes keep those reads inside the buffer.
const size_t parserPadding = 4;

// Called with the parsed document and whether the parser read the text to its end (it stops
// quietly at text outside any element).
using ParsedUse = std::function<void(TiXmlDocument&, bool wholeText)>;

std::vector<char> parserText(const char* bytes, size_t length)
{
    // The text ends at its first NUL byte; the parser would step over one inside a UTF-8 sequence.
    if (const void* nul = memchr(bytes, '\0', length))
        length = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
    std::vector<char> text(length + parserPadding, '\0');
    std::copy(bytes, bytes + length, text.begin());
    return text;
}

// Cuts bytes[0, length) at its first NUL and turns CR and CR LF line ends into LF, as the parser's
// own file loading does, then pads it.
void loadedText(std::vector<char>& bytes, size_t length)
{
    if (const void* nul = memchr(bytes.data(), '\0', length))
        length = static_cast<size_t>(static_cast<const char*>(nul) - bytes.data());
    // Up to the first CR nothing changes.
    const char* firstReturn = static_cast<const char*>(memchr(bytes.data(), '\r', length));
    size_t written = firstReturn ? static_cast<size_t>(firstReturn - bytes.data()) : length;
    for (size_t from = written; from < length; ++from)
    {
        const bool lineEnd = bytes[from] == '\r';
        bytes[written++] = lineEnd ? '\n' : bytes[from];
        if (lineEnd && from + 1 < length && bytes[from + 1] == '\n')
            ++from;
    }
    const auto paddingStart = bytes.begin() + static_cast<std::ptrdiff_t>(written);
    std::fill(paddingStart, paddingStart + static_cast<std::ptrdiff_t>(parserPadding), '\0');
    bytes.resize(written + parserPadding);
}

// The whole file, prepared by loadedText. False when reading fails.
bool fileText(int fd, size_t sizeHint, std::vector<char>& bytes, std::string* digest)
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
    if (digest != nullptr)
        *digest = Sha256::Of(bytes.data(), length);
    loadedText(bytes, length);
    return true;
}

// Reads the open file fd from where it stands when it is a regular file.
bool loadDescriptorText(int fd, std::vector<char>& text, std::string* digest = nullptr)
{
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // A regular file reads the same either way; blocking reads keep the loop simple.
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
           fileText(fd, static_cast<size_t>(status.st_size), text, digest);
}

// Reads the file at path when it is a regular file. It is opened without blocking and without
// becoming a controlling terminal, so a FIFO or a device named in its place is refused at once
// instead of waiting for a writer or taking over a terminal.
bool loadFileText(const TqString& path, std::vector<char>& text, std::string* digest = nullptr)
{
    const FileDescriptor fd(open(path.ConstData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return fd.IsOpen() && loadDescriptorText(fd.Get(), text, digest);
}

// Ample for deepestNesting levels of the parser and the model (a few hundred bytes a level).
const size_t parserStack = 1024 * 1024;

// Runs work on a thread of its own with a stack of parserStack bytes, and waits for it. False when
// no such thread could be started.
bool runOnOwnStack(std::function<void()>& work)
{
    pthread_attr_t attributes;
    pthread_t thread;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    const bool started = pthread_attr_setstacksize(&attributes, parserStack) == 0 &&
                         pthread_create(
                             &thread, &attributes,
                             [](void* arguments) -> void*
                             {
                                 (*static_cast<std::function<void()>*>(arguments))();
                                 return nullptr;
                             },
                             &work) == 0;
    pthread_attr_destroy(&attributes);
    if (started)
        pthread_join(thread, nullptr);
    return started;
}

// Parses text (prepared by parserText or loadedText) and hands the document to use, unless the
// text nests deeper than the parser's recursion may go. True when use saw well-formed XML. The
// document holds copies of everything it needs, so the text goes as soon as it is parsed: a
// large definition is then held once, not twice, while use reads it. Only with countsLines do the
// document's nodes know their rows.
bool parseAndUse(std::vector<char> text, const ParsedUse& use, bool countsLines = false)
{
    const size_t length = text.size() - parserPadding;
    if (XMLNesting::deepest(text.data(), length, XMLReading::deepestNesting) > XMLReading::deepestNesting)
        return false;
    // The parser recurses once per open element, the model's reading too: both run on a stack of
    // their own, whatever stack limit the process was started with.
    bool wellFormed = false;
    std::exception_ptr thrown;
    std::function<void()> parse = [&]
    {
        try
        {
            TiXmlDocument document;
            // A tab size of 0 turns off the parser's tracking of rows and columns.
            if (!countsLines)
                document.SetTabSize(0);
            const char* rest = document.Parse(text.data(), nullptr, TIXML_DEFAULT_ENCODING);
            const bool wholeText = rest == nullptr || *rest == '\0';
            std::vector<char>().swap(text);
            use(document, wholeText);
            wellFormed = !document.Error();
        }
        catch (...)
        {
            thrown = std::current_exception();
        }
    };
    if (!runOnOwnStack(parse))
        return false;
    if (thrown)
        std::rethrow_exception(thrown);
    return wellFormed;
}

// The document's only element when it is named rootName and the parser read the whole text;
// null otherwise.
const TiXmlElement* onlyRoot(const TiXmlDocument& document, bool wholeText, const char* rootName)
{
    const TiXmlElement* root = document.RootElement();
    if (!wholeText || document.Error() || root == nullptr || root->NextSiblingElement() != nullptr)
        return nullptr;
    return strcmp(root->Value(), rootName) == 0 ? root : nullptr;
}

// Walks element beside node, the tree the reader made of it: the same elements, and only into
// directories the tree kept as directories (a file of the same name wins there).
void markUnnamedBelow(const TiXmlElement& element, FileNode& node)
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
            markUnnamedBelow(*child, entry->second);
    }
}

// What one listing of an entry says of its flags: 1, 0, or -1 when it leaves them to its directory.
struct ListedFlags
{
    int dontDelete;
    int ignoreInstallErrors;
};

int givenFlag(const char* text)
{
    const bool asFalse = getBoolFlagFromString(text, false);
    return asFalse == getBoolFlagFromString(text, true) ? asFalse : -1;
}

// Every listing of every entry below element, in document order, by the entry's names from the
// list down joined with NUL (which no name holds).
void collectListings(const TiXmlElement& element, const std::string& path,
                     std::map<std::string, std::vector<ListedFlags>>& listings)
{
    for (const TiXmlElement* child = element.FirstChildElement(); child; child = child->NextSiblingElement())
    {
        const bool isDirectory = child->ValueStr() == "directory";
        const char* name = child->Attribute("fileName");
        if ((!isDirectory && child->ValueStr() != "file") || name == nullptr || *name == '\0')
            continue;
        const std::string key = path + '\0' + name;
        listings[key].push_back(ListedFlags{givenFlag(child->Attribute("dontdelete")),
                                            givenFlag(child->Attribute("ignoreinstallerrors"))});
        if (isDirectory)
            collectListings(*child, key, listings);
    }
}

// An entry listed more than once takes the flags of its first listing, not of its last as the
// model does, and is kept when any listing keeps it: a later bare listing must not cancel an
// earlier "keep". A listing that gives no flag takes it from its directory as finally decided.
void applyFirstListings(FileNode& node, const std::string& path,
                        const std::map<std::string, std::vector<ListedFlags>>& listings)
{
    for (auto& child : node.children)
    {
        FileNode& entry = child.second;
        const std::string key = path + '\0' + child.first.ConstData();
        const auto listed = listings.find(key);
        if (listed != listings.end() && listed->second.size() > 1)
        {
            const ListedFlags& first = listed->second.front();
            entry.ignoreInstallErrors =
                first.ignoreInstallErrors < 0 ? node.ignoreInstallErrors : first.ignoreInstallErrors;
            entry.dontDelete = false;
            for (const ListedFlags& flags : listed->second)
                entry.dontDelete =
                    entry.dontDelete || (flags.dontDelete < 0 ? node.dontDelete : flags.dontDelete == 1);
        }
        else
        {
            // Its only listing, inheriting from the directory as the directory now stands.
            const ListedFlags flags = listed != listings.end() ? listed->second.front() : ListedFlags{-1, -1};
            if (flags.dontDelete < 0)
                entry.dontDelete = node.dontDelete;
            if (flags.ignoreInstallErrors < 0)
                entry.ignoreInstallErrors = node.ignoreInstallErrors;
        }
        applyFirstListings(entry, key, listings);
    }
}

// The named file and directory elements below element, and the named entries below node.
size_t namedListings(const TiXmlElement& element)
{
    size_t count = 0;
    for (const TiXmlElement* child = element.FirstChildElement(); child; child = child->NextSiblingElement())
    {
        const bool isDirectory = child->ValueStr() == "directory";
        const char* name = child->Attribute("fileName");
        if ((isDirectory || child->ValueStr() == "file") && name != nullptr && *name != '\0')
            count += 1 + (isDirectory ? namedListings(*child) : 0);
    }
    return count;
}

size_t namedEntries(const FileNode& node)
{
    size_t count = 0;
    for (const auto& child : node.children)
        if (child.first.IsSet())
            count += 1 + namedEntries(child.second);
    return count;
}

// The model of document, with the entries without a name marked and the flags of entries listed
// twice taken from their first listing; the same elements the reader takes: the first "product",
// its first "installFiles".
void readMarked(TiXmlDocument& document, SKUDefinition& definition)
{
    definition.parseInner(document);
    const TiXmlNode* product = document.FirstChild("product");
    const TiXmlNode* installFiles =
        product && product->ToElement() ? product->FirstChild("installFiles") : nullptr;
    if (const TiXmlElement* list = installFiles ? installFiles->ToElement() : nullptr)
    {
        markUnnamedBelow(*list, definition.installRoot);
        // Each entry listed once (the usual case): the model's flags are the listings' own.
        if (namedListings(*list) == namedEntries(definition.installRoot))
            return;
        std::map<std::string, std::vector<ListedFlags>> listings;
        collectListings(*list, std::string(), listings);
        applyFirstListings(definition.installRoot, std::string(), listings);
    }
}

// The strict reading's watch over a reading that lets installFiles go as it reads it: each
// element is checked before it is read, and an entry listed without a name, which the reader leaves
// out, gets the entry under the empty name that readMarked would give it.
class StrictWatch : public InstallEntries::Watch
{
public:
    explicit StrictWatch(const FileNode& listRoot) : root(listRoot) {}

    bool Element(const TiXmlElement& element, FileNode& parent) override
    {
        const bool isDirectory = element.ValueStr() == "directory";
        const char* name = element.Attribute("fileName");
        const bool unnamed = (isDirectory || element.ValueStr() == "file") && (name == nullptr || *name == '\0');
        if (unnamed)
            parent.children[TqString()].parentName = parent.name;
        // The reader goes into a named directory itself, and then hands its children here in turn.
        return check.Element(element, &parent != &root, unnamed);
    }

    // The flags of an entry listed twice come from all its listings (applyFirstListings), which
    // this reading has let go by then.
    bool NameListedAgain() override
    {
        listedAgain = true;
        return false;
    }

    InstallFilesCheck check;
    bool listedAgain = false;

private:
    const FileNode& root;
};

// The strict reading of a document whose only root is "product", in one pass over installFiles
// that checks each entry, reads it into the model and lets it go from the document, so that the
// document and the model are never both held in full. False when an entry is listed twice, which
// only the whole document decides (model and findings unspecified then).
bool readConsuming(TiXmlDocument& document, SKUDefinition& definition, InstallFilesFindings& findings)
{
    TiXmlElement* product = document.FirstChildElement("product");
    TiXmlElement* list = product->FirstChildElement("installFiles");
    // The model reads the first node of each name, the check the first element: one pass serves
    // both only when they are the same (a comment can bear the name).
    if (document.FirstChild("product") != product || list == nullptr || product->FirstChild("installFiles") != list)
    {
        findings = CheckInstallFiles(document);
        readMarked(document, definition);
        return true;
    }
    FileNode root;
    root.name = TqString("");
    root.isDirectory = true;
    StrictWatch watch(root);
    const bool whole = InstallEntries::Read(root, list, TqString(), InstallEntries::Kinds::both, true, &watch);
    if (watch.listedAgain)
        return false;
    findings = watch.check.Findings();
    if (!whole)
        return true;
    // What is left of the list holds no entry; the rest of the model reads as ever.
    definition.parseInner(document);
    definition.installRoot = std::move(root);
    return true;
}

// The strict reading of the definition in the open file fd, consuming its document or not. False
// when the file cannot be read or is not one "product" element. listedAgain says that the
// consuming reading met an entry listed twice and left the model and findings unspecified.
bool readDefinition(int fd, SKUDefinition& definition, InstallFilesFindings& findings, std::string& digest,
                    bool consuming, bool& listedAgain)
{
    std::vector<char> text;
    bool read = false;
    const ParsedUse strictly = [&](TiXmlDocument& document, bool wholeText)
    {
        read = onlyRoot(document, wholeText, "product") != nullptr;
        if (read && consuming)
        {
            listedAgain = !readConsuming(document, definition, findings);
        }
        else if (read)
        {
            findings = CheckInstallFiles(document);
            readMarked(document, definition);
        }
    };
    return loadDescriptorText(fd, text, &digest) && parseAndUse(std::move(text), strictly, true) && read;
}

} // namespace

bool XMLReading::UseFile(const TqString& path, const DocumentUse& use, std::string* digest)
{
    std::vector<char> text;
    return loadFileText(path, text, digest) &&
           parseAndUse(std::move(text), [&use](TiXmlDocument& document, bool) { use(document); });
}

bool XMLReading::UseFileLead(const TqString& path, const LeadCheck& enough, const DocumentUse& use,
                             std::string* digest)
{
    std::vector<char> text;
    if (!loadFileText(path, text, digest))
        return false;
    bool used = false;
    const ParsedUse useWhole = [&](TiXmlDocument& document, bool)
    {
        used = true;
        use(document);
    };
    const size_t length = text.size() - parserPadding;
    if (length > leadBytes)
    {
        // The start may stand for the whole only when the whole would not be refused for its nesting.
        if (XMLNesting::deepest(text.data(), length, XMLReading::deepestNesting) > XMLReading::deepestNesting)
            return false;
        (void)parseAndUse(parserText(text.data(), leadBytes),
                          [&](TiXmlDocument& document, bool)
                          {
                              used = enough(document);
                              if (used)
                                  use(document);
                          });
    }
    if (!used)
        (void)parseAndUse(std::move(text), useWhole);
    return used;
}

bool XMLReading::UseText(const char* bytes, size_t length, const DocumentUse& use)
{
    return parseAndUse(parserText(bytes, length), [&use](TiXmlDocument& document, bool) { use(document); });
}

bool XMLReading::ReadDefinitionFile(int fd, SKUDefinition& definition, InstallFilesFindings& findings,
                                    std::string* digest)
{
    const off_t start = lseek(fd, 0, SEEK_CUR);
    std::string digestRead;
    bool listedAgain = false;
    if (!readDefinition(fd, definition, findings, digestRead, true, listedAgain))
        return false;
    if (listedAgain)
    {
        // Rare enough to pay a second reading, of the whole document this time; it must read the
        // very bytes the first one did.
        std::string digestAgain;
        if (start < 0 || lseek(fd, start, SEEK_SET) != start ||
            !readDefinition(fd, definition, findings, digestAgain, false, listedAgain) || digestAgain != digestRead)
            return false;
    }
    if (digest != nullptr)
        *digest = digestRead;
    return true;
}

bool XMLReading::ReadDefinitionText(const char* bytes, size_t length, SKUDefinition& definition)
{
    return parseAndUse(parserText(bytes, length),
                       [&definition](TiXmlDocument& document, bool) { readMarked(document, definition); });
}

bool XMLReading::ReadTargetFile(int fd, TqString& targetPath)
{
    std::vector<char> text;
    TqString value;
    const ParsedUse strictly = [&value](TiXmlDocument& document, bool wholeText)
    {
        if (const TiXmlElement* root = onlyRoot(document, wholeText, "targetPath"))
            value = TqString(root->Attribute("path"));
    };
    if (!loadDescriptorText(fd, text) || !parseAndUse(std::move(text), strictly) || value.IsEmpty())
        return false;
    targetPath = value;
    return true;
}

bool XMLReading::ReadTargetFile(const TqString& path, TqString& targetPath)
{
    const FileDescriptor fd(open(path.ConstData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return fd.IsOpen() && ReadTargetFile(fd.Get(), targetPath);
}
