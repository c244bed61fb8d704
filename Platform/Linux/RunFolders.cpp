#include "RunFolders.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "FileServices.h"
#include "FolderListing.h"

namespace
{

const char kRecordName[] = "process-start";

// The decimal number text holds whole, or false.
bool ParseNumber(const char* text, unsigned long long& number)
{
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    number = std::strtoull(text, &end, 10);
    return errno == 0 && (*end == '\0' || *end == '\n');
}

// Up to size - 1 bytes of the regular file name in folderFd, NUL-terminated; false when it is no
// such file or cannot be read.
bool ReadSmallFile(int folderFd, const char* name, char* text, size_t size)
{
    const FileDescriptor file(openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    if (!file.IsOpen() || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    ssize_t got;
    do
        got = read(file.Get(), text, size - 1);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return false;
    text[got] = '\0';
    return true;
}

// Whether the run folder name (checked to be one, open as folderFd) belongs to a run that is over.
bool RunIsOver(int folderFd, const char* name)
{
    unsigned long long pid = 0;
    if (!ParseNumber(name + 33, pid) || pid == 0 || pid > static_cast<unsigned long long>(INT32_MAX))
        return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        return true;
    unsigned long long running = 0;
    unsigned long long recorded = 0;
    char record[32];
    // A folder without a record (its maker was stopped right after making it) stays while its
    // pid is taken.
    return ProcessStartTime(static_cast<pid_t>(pid), running) &&
           ReadSmallFile(folderFd, kRecordName, record, sizeof record) && ParseNumber(record, recorded) &&
           recorded != running;
}

} // namespace

bool IsRunFolderName(const TqString& name)
{
    const char* text = name.ConstData();
    const size_t length = std::strlen(text);
    if (length < kRunDigits + 2 || text[kRunDigits] != kRunSeparator ||
        std::strspn(text, "0123456789abcdef") != kRunDigits)
        return false;
    return std::strspn(text + kRunDigits + 1, "0123456789") == length - kRunDigits - 1;
}

bool IsPrivateFolderOf(const struct stat& status, uid_t user)
{
    return S_ISDIR(status.st_mode) && status.st_uid == user && (status.st_mode & 07777) == 0700;
}

bool ProcessStartTime(pid_t pid, unsigned long long& startTime)
{
    char path[48];
    (void)std::snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
    char text[1024];
    if (!ReadSmallFile(AT_FDCWD, path, text, sizeof text))
        return false;
    // The command name in parentheses may hold anything; the fields follow its last ")". The
    // start time is field 22, the 20th after the name.
    const char* field = std::strrchr(text, ')');
    for (int index = 0; field != nullptr && index < 20; ++index)
        field = std::strchr(field + 1, ' ');
    if (field == nullptr)
        return false;
    char* end = nullptr;
    startTime = std::strtoull(field + 1, &end, 10);
    return end != field + 1 && (*end == ' ' || *end == '\n' || *end == '\0');
}

bool WriteRunRecord(int runFolderFd)
{
    unsigned long long startTime = 0;
    if (!ProcessStartTime(getpid(), startTime))
        return false;
    const FileDescriptor file(
        openat(runFolderFd, kRecordName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.IsOpen())
        return false;
    const std::string text = std::to_string(startTime) + "\n";
    return write(file.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void RemoveAbandonedRunFolders(const TqString& temporaryFolder, uid_t user)
{
    unsigned long long ownStart = 0;
    if (temporaryFolder.IsEmpty() || !ProcessStartTime(getpid(), ownStart))
        return;
    const FileDescriptor folder(open(temporaryFolder.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen())
        return;
    // The names first: removing while listing may skip some.
    std::vector<std::string> candidates;
    {
        FolderListing listing(folder.Get());
        while (const dirent* entry = listing.Next())
        {
            if (IsRunFolderName(entry->d_name))
                candidates.push_back(entry->d_name);
        }
    }
    for (const std::string& name : candidates)
    {
        const FileDescriptor run(
            openat(folder.Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (!run.IsOpen() || fstat(run.Get(), &status) != 0 || !IsPrivateFolderOf(status, user) ||
            !RunIsOver(run.Get(), name.c_str()))
            continue;
        // What cannot go now is tried again by the next run.
        OwnerWritableChanges changes;
        (void)RemoveTreeAt(folder.Get(), name.c_str(), changes);
    }
}
