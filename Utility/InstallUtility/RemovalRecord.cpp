#include "RemovalRecord.h"

#include <cerrno>
#include <cstdlib>
#include <syslog.h>
#include <unistd.h>

#include "LineEscaping.h"
#include "SystemLog.h"

namespace
{

// The real user who started the tool, taken as the program loads: the tool may change all its
// ids to another user's before it removes anything.
const uid_t startingUser = getuid();

std::string number(unsigned long value)
{
    return std::to_string(value);
}

// Who asked: the real uid at start and, for root started through pkexec or sudo, the user they
// name (only root's environment is believed: any user may set these variables for themselves).
std::string askedBy()
{
    std::string text = "asked by uid " + number(startingUser);
    if (startingUser != 0)
        return text;
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"})
    {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0')
        {
            text += " (for uid " + std::string(EscapeLineText(TqString(value)).ConstData()) + " through " +
                    (variable[0] == 'P' ? "pkexec" : "sudo") + ")";
            break;
        }
    }
    return text;
}

// The tool's messages are escaped lines already; one that is not is escaped here, so the record
// stays one line without escaping the others twice.
std::string asOneLine(const std::string& message)
{
    for (const char byte : message)
        if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f)
            return EscapeLineText(TqString(message.c_str())).ConstData();
    return message;
}

} // namespace

RemovalRecord::RemovalRecord(bool dryRun, FILE* errors) : dryRun(dryRun), errors(errors)
{
    const cookie_io_functions_t functions = {nullptr, passOn, nullptr, nullptr};
    watched = fopencookie(this, "w", functions);
    // Unbuffered, so each message reaches errors when it is written, in order with the output.
    if (watched != nullptr)
        (void)setvbuf(watched, nullptr, _IONBF, 0);
}

RemovalRecord::~RemovalRecord()
{
    if (watched != nullptr)
        (void)fclose(watched);
}

ssize_t RemovalRecord::passOn(void* cookie, const char* data, size_t size)
{
    RemovalRecord& record = *static_cast<RemovalRecord*>(cookie);
    for (size_t index = 0; index < size; ++index)
    {
        if (data[index] != '\n')
        {
            record.partialLine += data[index];
            continue;
        }
        record.lastLine.swap(record.partialLine);
        record.partialLine.clear();
        if (record.messages.size() < 100)
            record.messages.push_back(record.lastLine);
    }
    const size_t written = fwrite(data, 1, size, record.errors);
    return written == 0 && size != 0 ? -1 : static_cast<ssize_t>(written);
}

void RemovalRecord::TakeCounts(const RemovalReport::Counts& report)
{
    counts = report;
}

TqString RemovalRecord::Text(const TqString& product, const TqString& target, int exitStatus) const
{
    std::string text = dryRun ? "dry run: removal" : "removal";
    if (product.IsSet())
    {
        // Quoted, with its quotes escaped, so a name cannot pass for the rest of the record.
        const TqString name = EscapeLineText(product).Replace(TqString("\""), TqString("\\\""));
        text += std::string(" of \"") + name.ConstData() + "\"";
    }
    if (target.IsSet())
        text += std::string(" from ") + EscapeLineText(target).ConstData();
    text += " " + askedBy();
    if (geteuid() != startingUser)
        text += ", run as uid " + number(geteuid());
    if (counts)
        text += ": " + RemovalReport::CountsText(*counts, dryRun);
    else if (!lastLine.empty())
        text += std::string(exitStatus == 2 ? ": refused: " : ": ended: ") + asOneLine(lastLine);
    text += "; exit status " + number(static_cast<unsigned long>(exitStatus));
    return TqString(text.c_str());
}

void RemovalRecord::Write(const TqString& product, const TqString& target, int exitStatus) const
{
    if (watched != nullptr)
        (void)fflush(watched);
    const TqString text = Text(product, target, exitStatus);
    const Status sent =
        SystemLog::Send(LOG_USER | (exitStatus == 0 ? LOG_NOTICE : LOG_WARNING), "InstallUtility", text);
    // The record never changes how the run ends. A system with no log socket keeps no records, so
    // there is nothing to miss; a log that is there but did not take it is worth one line.
    if (!sent.IsDone() && sent.Errno() != ENOENT)
        (void)fprintf(errors, "%s\n", EscapeLineText(sent.Text()).ConstData());
}
