#ifndef TQ_JSONRESULT_H
#define TQ_JSONRESULT_H

#include <cstdio>
#include <string>

#include "RemovalJson.h"
#include "TqString.h"

// What `Uninstall --json` writes on standard output for fleet tools: each entry the tool reports,
// as a JSON object the moment its line arrives (the name carried byte for byte), then one closing
// object with the product, the counts, whether anything changed, and the uninstaller's own outcome
// and exit status (docs/JsonResult.md). Dialogs never go there.
class JsonResult
{
public:
    explicit JsonResult(FILE* output) : out(output) {}

    void SetProduct(const TqString& name, const TqString& id, const TqString& build);
    void SetTarget(const TqString& target) { closing.target = target; }
    void SetDryRun(bool dryRun) { closing.dryRun = dryRun; }
    // The tool's output as it arrives, in pieces of any size.
    void Feed(const char* bytes, unsigned long count);
    // Takes a last line that had no newline.
    void Finish();
    // The closing object, with the uninstaller's exit status.
    void Close(int status);

private:
    void takeLine();

    FILE* out;
    std::string pending;
    RemovalJson::Closing closing;
};

#endif
