#ifndef TQ_REMOVALRECORD_H
#define TQ_REMOVALRECORD_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "FileStream.h"
#include "RemovalReport.h"
#include "TqString.h"

// One record of each run of the removal tool in the system log (syslog(3): facility user, ident
// "InstallUtility"; journald keeps it, `journalctl -t InstallUtility`, or /var/log/syslog), so an
// administrator can learn afterwards who removed which product from where and how it ended. It
// is one escaped line:
//   [dry run: ]removal of "PRODUCT"[ (ID I, build B)] from TARGET asked by [NAME ]uid U
//   [ through pkexec|sudo][, run as uid W]: COUNTS | refused: REASON | ended: REASON; exit status S
// at LOG_NOTICE, or LOG_WARNING when S is not 0. The user who asked is the real one: pkexec's or
// sudo's caller when they started the tool as root.
//
// What the definition says of the product, as far as it was read (each part unset when not).
struct RecordedProduct
{
    TqString name;
    TqString id;
    TqString build;
};

class RemovalRecord
{
public:
    // Watches what the tool writes on errors from now on: the last line there is the reason of a
    // run that ends without removing (exit status 2: nothing touched).
    RemovalRecord(bool dryRun, FILE* errors);
    RemovalRecord(const RemovalRecord&) = delete;
    RemovalRecord& operator=(const RemovalRecord&) = delete;

    // The stream to write the tool's messages to in place of errors; all of it reaches errors.
    FILE* Errors() const { return watched.IsOpen() ? watched.Get() : errors; }

    // The lines the tool wrote on errors so far (the first 100).
    const std::vector<std::string>& Messages() const { return messages; }
    // The removal's counts, once it has run.
    void TakeCounts(const RemovalReport::Counts& report);

    // The reason of a run refused before it wrote one on errors (a command line it does not know).
    void Refused(const std::string& reason) { lastLine = reason; }

    // The record's line for the product and target as read (unset when they could not be).
    TqString Text(const RecordedProduct& product, const TqString& target, int exitStatus) const;
    // Sends it to the system log, never waiting long (SystemLog); a record the log did not take is
    // said on errors.
    void Write(const RecordedProduct& product, const TqString& target, int exitStatus) const;

private:
    static ssize_t passOn(void* cookie, const char* data, size_t size);

    bool dryRun;
    FILE* errors;
    std::string partialLine;
    std::string lastLine;
    std::vector<std::string> messages;
    std::optional<RemovalReport::Counts> counts;
    // Last, so that it closes while what it writes into is still there.
    FileStream watched;
};

#endif
