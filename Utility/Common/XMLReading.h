#ifndef TQ_XMLREADING_H
#define TQ_XMLREADING_H

#include <cstddef>
#include <functional>
#include <string>

#include "InstallFilesCheck.h"
#include "TqString.h"

class SKUDefinition;
class TiXmlDocument;

// Every reading of the product's XML files: loading (regular files only), parsing and the depth
// guard, and the strict readings of the two files the removal tool takes. The parser recurses once
// per open element, so a text is scanned for its nesting (XMLNesting) before it is parsed.
namespace XMLReading
{

// Elements nested deeper than this would let the parser's recursion run out of stack; such a
// document is refused as a whole, before it is parsed.
const size_t deepestNesting = 256;

// Called with the parsed document, which the reading owns and frees afterwards. Its nodes carry no
// positions (Row and Column are 0): only the strict reading below reports lines, and counting them
// costs a tenth of the parse.
using DocumentUse = std::function<void(TiXmlDocument&)>;

// Parses the regular file at path, read as the parser's own file loading reads it (up to the first
// NUL byte, CR and CR LF turned into LF), and hands the document to use. The file is opened
// without blocking, so a FIFO or device in its place is refused at once. use is not called when the
// file cannot be opened or read, is not a regular file, or nests too deeply; it is called with what
// the parser made of a text that is not well-formed XML. True when use saw well-formed XML.
// Throws std::bad_alloc when memory runs out.
// With digest, the SHA-256 of the file's bytes as read (Sha256) is put there.
bool UseFile(const TqString& path, const DocumentUse& use, std::string* digest = nullptr);

// The same for bytes[0, length) up to the first NUL byte.
bool UseText(const char* bytes, size_t length, const DocumentUse& use);

// Whether a document parsed from only the start of a text already holds, complete, all that its
// user reads, so that the rest of the text cannot change it.
using LeadCheck = std::function<bool(TiXmlDocument&)>;

// As UseFile, for a user that reads only what stands near the start of a large file: use gets the
// document of the first leadBytes of the text when enough says they suffice, else the whole
// text's. The nesting check and the digest take the whole text either way. True when use was
// called.
const size_t leadBytes = 64 * 1024;
bool UseFileLead(const TqString& path, const LeadCheck& enough, const DocumentUse& use,
                 std::string* digest = nullptr);

// The strict reading of a product definition for the removal tool, from the open file fd (which
// the caller opened once and checked, and keeps): the file holds exactly one
// element, `product`, with nothing but white space, comments or declarations beside it. The model
// is read as SKUDefinition reads it, and each directory whose element lists an install entry
// without a name (which the model leaves out) gets one entry under the empty name, so that the
// removal refuses it aloud instead of passing over it. Its installFiles are checked as the tool
// needs them (CheckInstallFiles) into findings. False (model and findings unspecified) otherwise.
// Each install entry is checked, read and let go from the document in one pass, so the document and
// the model are never both held in full (a definition listing a name twice is read twice instead).
// With digest, the SHA-256 of the bytes read is put there.
[[nodiscard]] bool ReadDefinitionFile(int fd, SKUDefinition& definition, InstallFilesFindings& findings,
                                      std::string* digest = nullptr);

// The same reading of a definition given as text (no check of the root).
[[nodiscard]] bool ReadDefinitionText(const char* bytes, size_t length, SKUDefinition& definition);

// The target-path file, from the open file fd: exactly one element, <targetPath path="/abs/dir"/>.
// False (targetPath untouched) when the file cannot be read, is not well-formed XML, has another
// root or more than one, or the attribute is missing or empty. Relative paths are read as written.
[[nodiscard]] bool ReadTargetFile(int fd, TqString& targetPath);

// The same for the file at path, opened without blocking: for what only shows the target to a person.
[[nodiscard]] bool ReadTargetFile(const TqString& path, TqString& targetPath);

} // namespace XMLReading

#endif
