#ifndef TQ_REMOVALJSON_H
#define TQ_REMOVALJSON_H

#include <string>
#include <vector>

#include "RemovalLine.h"
#include "TqString.h"

// The machine-readable form of a removal's report, for fleet tools: JSON Lines, one object per
// entry as it is handled, then one closing object (docs/JsonResult.md). A path or text that is
// valid UTF-8 is carried as a JSON string; one that is not is carried in the string with each
// invalid byte as U+FFFD and, byte for byte, in a "_base64" field beside it ("path_base64").
namespace RemovalJson
{

// The version of the objects' layout, in every closing object.
const int schemaVersion = 1;

// {"kind": "removed", "path": "..."} with "reason" when there is one. The kinds are the report's
// words: removed, would remove, kept, missing, failed, would fail, ignored, refused.
std::string EntryObject(RemovalLineKind kind, const TqString& path, const TqString& reason = TqString());

// What a closing object says.
struct Closing
{
    TqString productName, productId, productBuild;
    TqString target;
    bool dryRun = false;
    // The summary's counts, unset (no "summary") when the removal did not run.
    bool hasSummary = false;
    RemovalCounts counts;
    int status = 0;
    // The tool's messages, as written on its standard error.
    std::vector<std::string> messages;
    // The uninstaller's own outcome ("removed", "cancelled", "no rights", ...); unset for the tool.
    std::string outcome;
};

// {"schema": 1, "product": {...}, "target": ..., "dry_run": ..., "summary": {...}, "changed": ...,
// "status": N, "messages": [...]}.
std::string ClosingObject(const Closing& closing);

// The answer of a check: {"schema": 1, "product": {...}, "target": ..., "check": "installed",
// "present": N, "listed": M, "status": S}; answer is "installed", "partly installed" or
// "not installed".
std::string CheckObject(const Closing& closing, const char* answer, unsigned long present, unsigned long listed);

// The closing object's kind of line: one object with a "schema" field.
bool IsClosingObject(const std::string& line);

} // namespace RemovalJson

#endif
