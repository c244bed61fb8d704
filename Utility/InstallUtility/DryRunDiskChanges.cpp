#include "DryRunDiskChanges.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "FailureReason.h"
#include "FileDescriptor.h"
#include "FolderListing.h"
#include "NodeIdentity.h"

namespace
{

// The status of name in folderFd (folderFd itself for the empty name), following no link: type,
// owner, identity, mount and, where the file system reports them, the immutable and append-only
// flags. Where statx is missing (an old kernel, a sandbox) the plain status stands in, without
// the flags. False with errno set when it cannot be read.
bool readStatus(int folderFd, const char* name, struct statx& status)
{
    const int at = AT_SYMLINK_NOFOLLOW | (*name == '\0' ? AT_EMPTY_PATH : 0);
    if (statx(folderFd, name, at, STATX_BASIC_STATS | STATX_MNT_ID, &status) == 0)
        return true;
    struct stat plain;
    if (errno != ENOSYS || fstatat(folderFd, name, &plain, at) != 0)
        return false;
    status = {};
    status.stx_mode = static_cast<uint16_t>(plain.st_mode);
    status.stx_uid = plain.st_uid;
    status.stx_gid = plain.st_gid;
    status.stx_ino = plain.st_ino;
    status.stx_dev_major = major(plain.st_dev);
    status.stx_dev_minor = minor(plain.st_dev);
    status.stx_ctime.tv_sec = plain.st_ctim.tv_sec;
    status.stx_ctime.tv_nsec = static_cast<uint32_t>(plain.st_ctim.tv_nsec);
    status.stx_mnt_id = plain.st_dev;
    return true;
}

// readStatus as a StatusReadAhead::Reader: 0, or the errno value.
int readEntryStatus(int folderFd, const char* name, struct statx& status)
{
    return readStatus(folderFd, name, status) ? 0 : errno;
}

// Whether two status reads of a folder show the same folder unchanged: any change of its rights,
// owner, flags or access lists moves its change time.
bool sameFolder(const struct statx& a, const struct statx& b)
{
    return a.stx_ino == b.stx_ino && a.stx_dev_major == b.stx_dev_major &&
           a.stx_dev_minor == b.stx_dev_minor && a.stx_mnt_id == b.stx_mnt_id && a.stx_mode == b.stx_mode &&
           a.stx_uid == b.stx_uid && a.stx_gid == b.stx_gid && a.stx_attributes == b.stx_attributes &&
           a.stx_ctime.tv_sec == b.stx_ctime.tv_sec && a.stx_ctime.tv_nsec == b.stx_ctime.tv_nsec;
}

} // namespace

DryRunDiskChanges::DryRunDiskChanges() : readAhead(readEntryStatus) {}

DryRunDiskChanges::FolderFacts DryRunDiskChanges::factsOf(int folderFd, const struct statx& folder)
{
    FolderFacts facts;
    facts.status = folder;
    // A read-only file system refuses before it looks for the name.
    struct statvfs fileSystem;
    facts.readOnly = fstatvfs(folderFd, &fileSystem) == 0 && (fileSystem.f_flag & ST_RDONLY) != 0;
    // Write and search on the folder, as the system grants them to the effective user (root's
    // capabilities and access lists included); an immutable folder says EPERM here.
    if (faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) != 0)
        facts.refusal = errno;
    else if (ProtectionFlags(folderFd, "", folder) != 0)
        facts.refusal = EPERM;
    facts.user = geteuid();
    return facts;
}

DryRunDiskChanges::FolderKey DryRunDiskChanges::keyOf(const struct statx& folder)
{
    return {makedev(folder.stx_dev_major, folder.stx_dev_minor), folder.stx_ino};
}

DryRunDiskChanges::Names& DryRunDiskChanges::goneIn(const struct statx& folder)
{
    return gone[keyOf(folder)];
}

const DryRunDiskChanges::PreparedFolder* DryRunDiskChanges::preparedFolder(int folderFd) const
{
    for (auto folder = prepared.rbegin(); folder != prepared.rend(); ++folder)
        if (folder->fd == folderFd)
            return &*folder;
    return nullptr;
}

void DryRunDiskChanges::PrepareToEmpty(int folderFd)
{
    DoneWithFolder(folderFd);
    struct statx status;
    // A folder that cannot be read is read again at each entry, which then says why.
    if (!readStatus(folderFd, "", status))
        return;
    prepared.push_back(PreparedFolder{folderFd, factsOf(folderFd, status), &goneIn(status)});
}

void DryRunDiskChanges::WillRemoveNames(int folderFd, const std::vector<const char*>& names)
{
    if (preparedFolder(folderFd) != nullptr)
        readAhead.Begin(folderFd, names);
}

void DryRunDiskChanges::DoneWithFolder(int folderFd)
{
    // Only a prepared folder is read ahead, so only its listing is handed over.
    lastListedKnown = readAhead.End(folderFd, &lastListed);
    for (auto folder = prepared.rbegin(); folder != prepared.rend(); ++folder)
        if (folder->fd == folderFd)
        {
            lastListedFolder = keyOf(folder->facts.status);
            return (void)prepared.erase(std::next(folder).base());
        }
}

int DryRunDiskChanges::foresee(int folderFd, const char* name, Entry& entry, struct statx& status)
{
    const FolderFacts* known = nullptr;
    if (const PreparedFolder* folder = preparedFolder(folderFd))
    {
        known = &folder->facts;
        entry.folderGone = folder->gone;
    }
    else
    {
        // A folder whose descriptor may name another folder at each call: read each time, its
        // facts found again when its status differs from the last one's.
        struct statx folderStatus;
        if (!readStatus(folderFd, "", folderStatus))
            return errno;
        if (!lastFolderKnown || !sameFolder(lastFolder.status, folderStatus))
            lastFolder = factsOf(folderFd, folderStatus);
        lastFolderKnown = true;
        known = &lastFolder;
        entry.folderGone = &goneIn(folderStatus);
    }
    entry.name = name;
    if (entry.folderGone->count(entry.name) != 0)
        return ENOENT;
    if (known->readOnly)
        return EROFS;
    if (const int error = readAhead.Read(folderFd, name, status))
        return error;
    if (known->refusal != 0)
        return known->refusal;
    // In a sticky folder only the entry's owner, the folder's owner or root may remove it.
    const struct statx& folder = known->status;
    if ((folder.stx_mode & S_ISVTX) != 0 && known->user != 0 && status.stx_uid != known->user &&
        folder.stx_uid != known->user)
        return EPERM;
    if (ProtectionFlags(folderFd, name, status) != 0)
        return EPERM;
    return 0;
}

Status DryRunDiskChanges::RemoveName(int folderFd, const char* name)
{
    const int error = removeName(folderFd, name);
    return error == 0 ? Status::Done() : Status::Failed(error, name);
}

Status DryRunDiskChanges::RemoveEmptyDirectory(int folderFd, const char* name)
{
    const int error = removeEmptyDirectory(folderFd, name);
    return error == 0 ? Status::Done() : Status::Failed(error, name);
}

int DryRunDiskChanges::removeName(int folderFd, const char* name)
{
    Entry entry;
    struct statx status;
    if (const int error = foresee(folderFd, name, entry, status))
        return error;
    if (S_ISDIR(status.stx_mode))
        return EISDIR;
    entry.folderGone->insert(keep(entry.name));
    return 0;
}

int DryRunDiskChanges::removeEmptyDirectory(int folderFd, const char* name)
{
    Entry entry;
    struct statx status;
    if (const int error = foresee(folderFd, name, entry, status))
        return error;
    // Removing a link to a directory says "not a directory", as for any other non-directory.
    if (!S_ISDIR(status.stx_mode))
        return ENOTDIR;
    const int error = emptiness(folderFd, name, status);
    if (error == 0)
        entry.folderGone->insert(keep(entry.name));
    return error;
}

int DryRunDiskChanges::emptiness(int folderFd, const char* name, const struct statx& status)
{
    if (lastListedKnown && lastListedFolder == keyOf(status))
    {
        lastListedKnown = false;
        const Names* goneThere = goneFrom(lastListedFolder);
        for (const char* listed = lastListed.data(); listed != lastListed.data() + lastListed.size();
             listed += strlen(listed) + 1)
            if (!isGone(goneThere, listed))
                return ENOTEMPTY;
        return 0;
    }
    const FileDescriptor directory(openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.IsOpen())
        return errno == ELOOP ? ENOTDIR : errno;
    FolderListing listing(directory.Get());
    const Result<NodeIdentity> opened = IdentifyNode(directory.Get(), "");
    if (!opened.IsDone() || !listing.Error().IsDone())
        return ENOTEMPTY;
    // The names taken are those of the directory opened, should it differ from the one read.
    const Names* goneThere = goneFrom({opened.Value().device, opened.Value().inode});
    while (const dirent* inside = listing.Next())
        if (!isGone(goneThere, inside->d_name))
            return ENOTEMPTY;
    return 0;
}

const DryRunDiskChanges::Names* DryRunDiskChanges::goneFrom(const FolderKey& folder) const
{
    const auto found = gone.find(folder);
    return found == gone.end() ? nullptr : &found->second;
}

bool DryRunDiskChanges::isGone(const Names* goneThere, const char* name)
{
    return goneThere != nullptr && goneThere->count(name) != 0;
}

std::string_view DryRunDiskChanges::keep(std::string_view name)
{
    char* copy = static_cast<char*>(arena.allocate(name.size(), 1));
    std::copy(name.begin(), name.end(), copy);
    return {copy, name.size()};
}
