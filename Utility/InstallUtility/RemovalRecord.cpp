#include "RemovalRecord.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
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

// A user as the record names them: the account's name and uid, or the uid alone.
std::string userText(uid_t user)
{
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[1024];
    const std::string id = "uid " + number(user);
    if (getpwuid_r(user, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return std::string(EscapeLineText(TqString(found->pw_name)).ConstData()) + " " + id;
    return id;
}

// Who asked: the real user at start or, for root started through pkexec or sudo, the user who
// called them (only root's environment is believed: any user may set these variables for
// themselves; a value that is not a uid is given as it is).
std::string askedBy()
{
    if (startingUser == 0)
        for (const char* variable : {"PKEXEC_UID", "SUDO_UID"})
        {
            const char* value = getenv(variable);
            if (value == nullptr || *value == '\0')
                continue;
            char* end = nullptr;
            errno = 0;
            const unsigned long caller = std::strtoul(value, &end, 10);
            const std::string who =
                *end == '\0' && errno == 0 && *value != '-' && caller < static_cast<uid_t>(-1)
                    ? userText(static_cast<uid_t>(caller))
                    : "uid " + std::string(EscapeLineText(TqString(value)).ConstData());
            return "asked by " + who + " through " + (variable[0] == 'P' ? "pkexec" : "sudo");
        }
    return "asked by " + userText(startingUser);
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

RemovalRecord::RemovalRecord(bool isDryRun, FILE* errorOutput) : dryRun(isDryRun), errors(errorOutput)
{
    const cookie_io_functions_t functions = {nullptr, passOn, nullptr, nullptr};
    watched = FileStream(fopencookie(this, "w", functions));
    // Unbuffered, so each message reaches errors when it is written, in order with the output.
    if (watched.IsOpen())
        (void)setvbuf(watched.Get(), nullptr, _IONBF, 0);
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

TqString RemovalRecord::Text(const RecordedProduct& product, const TqString& target, int exitStatus) const
{
    std::string text = dryRun ? "dry run: removal" : "removal";
    // Quoted, with its quotes escaped, so a name cannot pass for the rest of the record; the ID and
    // build likewise.
    const auto quoted = [](const TqString& value)
    { return std::string(EscapeLineText(value).Replace(TqString("\""), TqString("\\\"")).ConstData()); };
    if (product.name.IsSet())
        text += " of \"" + quoted(product.name) + "\"";
    if (product.id.IsSet() || product.build.IsSet())
    {
        std::string version;
        if (product.id.IsSet())
            version += "ID \"" + quoted(product.id) + "\"";
        if (product.build.IsSet())
            version += std::string(version.empty() ? "" : ", ") + "build \"" + quoted(product.build) + "\"";
        text += " (" + version + ")";
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

void RemovalRecord::Write(const RecordedProduct& product, const TqString& target, int exitStatus) const
{
    if (watched.IsOpen())
        (void)fflush(watched.Get());
    const TqString text = Text(product, target, exitStatus);
    const Status sent =
        SystemLog::Send(LOG_USER | (exitStatus == 0 ? LOG_NOTICE : LOG_WARNING), "InstallUtility", text);
    // The record never changes how the run ends. A system with no log socket keeps no records, so
    // there is nothing to miss; a log that is there but did not take it is worth one line.
    if (!sent.IsDone() && !sent.IsNotFound())
        (void)fprintf(errors, "%s\n", EscapeLineText(sent.Text()).ConstData());
}
