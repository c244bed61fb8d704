#ifndef TQ_INSTALLREMOVER_H
#define TQ_INSTALLREMOVER_H

#include <cstdio>
#include <set>

#include "FileNode.h"
#include "RemovalGuard.h"
#include "TqString.h"

// Removes under a target path what an install-file tree lists:
// - a file entry goes whole (file, link, or a bundle directory with everything in it);
// - a directory entry is a container: its entries first, then the directory if it is empty;
// - an entry with dontDelete stays, but the entries of a kept directory are still handled by
//   their own flags;
// - a missing entry is fine; a failure on an entry with ignoreInstallErrors does not fail the run;
// - a shortcut goes only when it is a link to the entry's installed path, and only with its entry.
// Every step is relative to an open directory and follows no link, so nothing outside the
// target path is touched (but for a shortcut link).
class InstallRemover
{
public:
    struct Counts
    {
        unsigned long removed = 0;
        unsigned long kept = 0;
        unsigned long missing = 0;
        unsigned long failed = 0;
    };

    // With verbose, every entry gets a line on out and a summary follows; otherwise only
    // failures and refusals are written, on errors. dryRun changes nothing and reports
    // "would remove" where it would have removed.
    InstallRemover(const TqString& targetPath, bool verbose, bool dryRun, FILE* out, FILE* errors);

    // Handles every entry below root. Returns the exit status: 0 when everything was removed,
    // kept by its flag or missing; 1 when something failed or was refused; 2 when the target
    // is not an absolute path of a directory (then nothing is touched).
    int Run(const FileNode& root);

    const Counts& GetCounts() const { return counts; }

    // The target folder as the caller opened (and locked) it: Run works in this very folder
    // instead of opening the path again. The caller keeps fd and closes it.
    void SetTargetFolder(int fd) { givenTargetFd = fd; }

private:
    // An open directory of the tree with its identity and full path.
    struct Directory
    {
        int fd;
        NodeIdentity identity;
        TqString path;
    };

    // Each returns whether the entry is gone afterwards (or would be, in a dry run).
    bool handleEntry(const Directory& parent, const FileNode& node);
    bool handleFile(const Directory& parent, const FileNode& node, const TqString& path);
    bool handleBundle(const Directory& parent, const FileNode& node, const TqString& path);
    bool handleDirectory(const Directory& parent, const FileNode& node, const TqString& path);
    // Returns whether every listed entry is gone; gone collects their names for a dry run.
    bool handleChildren(const Directory& directory, const FileNode& node, std::set<TqString>& gone);
    void reportMissingBelow(const FileNode& node, const TqString& path);
    // The shortcut goes with its entry: it stays while the entry stays (kept or failed).
    void handleShortCut(const FileNode& node, const TqString& installedPath, bool entryGone);
    int openShortCutDirectory(const TqString& dir, TqString& dirPath, const char*& reason);
    // Whether a dry run would leave the directory empty once the names in gone have gone.
    bool wouldBeEmpty(int fd, const std::set<TqString>& gone);

    void reportRemoved(const TqString& path);
    void reportKept(const TqString& path);
    void reportMissing(const TqString& path);
    void reportFailed(const FileNode& node, const TqString& path, const char* reason);
    void reportRefused(const TqString& name, const char* reason);

    TqString targetPath;
    bool verbose;
    bool dryRun;
    FILE* out;
    FILE* errors;
    RemovalGuard guard;
    Counts counts;
    bool runFailed = false;
    int targetFd = -1;
    int givenTargetFd = -1;
};

#endif
