#ifndef TQ_INSTALLREMOVER_H
#define TQ_INSTALLREMOVER_H

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "DiskChanges.h"
#include "FileDescriptor.h"
#include "FileNode.h"
#include "RemovalGuard.h"
#include "RemovalReport.h"
#include "Status.h"
#include "TqString.h"

// Removes under a target path what an install-file tree lists:
// - a file entry goes whole (file, link, or a bundle directory with everything in it);
// - a directory entry is a container: its entries first, then the directory if it is empty;
// - an entry with dontDelete stays, but the entries of a kept directory are still handled by
//   their own flags;
// - a missing entry is fine; a failure on an entry with ignoreinstallerrors does not fail the run;
// - a shortcut goes only when it is a link to the entry's installed path, and only with its entry.
// Every step is relative to an open directory and follows no link, so nothing outside the
// target path is touched (but for a shortcut link). The walk is the same for a dry run: only
// the DiskChanges it makes its changes through differ.
class InstallRemover
{
public:
    using Counts = RemovalReport::Counts;

    // With verbose, every entry gets a line on out and a summary follows; otherwise only
    // failures and refusals are written, on errors. dryRun changes nothing and reports
    // "would remove" where it would have removed.
    InstallRemover(const TqString& targetPath, bool verbose, bool dryRun, FILE* out, FILE* errors);

    // The target folder as the caller opened (and locked) it from targetPath: Run works in this
    // very folder. The caller keeps fd and closes it.
    void SetTargetFolder(int fd) { givenTargetFd = fd; }

    // The definition this run read, as the descriptors of the file and of the folder holding it.
    // The listed entry that holds it (the installed uninstaller) is handled last, and kept when
    // anything else failed, so that the uninstall can be run again. The caller keeps both.
    void SetDefinition(int fileFd, int folderFd);

    // Asked between entries: once it answers true, the entry under way is finished and nothing
    // more is removed; every entry not reached is reported kept ("the removal was cancelled"),
    // the one holding the definition among them, so that the uninstall can be run again.
    void SetStopCheck(bool (*asked)()) { stopAsked = asked; }
    // How often a bundle being removed says how far it is ("removing PATH: N items removed so far").
    void SetProgressInterval(std::chrono::milliseconds interval) { progressInterval = interval; }

    // Handles every entry below root, in the target folder given. Returns the exit status: 0 when
    // everything was removed, kept or missing; 1 when something failed or was refused, or the
    // report could not be written; 2 when no target folder was given (nothing is touched); 4 when
    // it was asked to stop and nothing failed.
    [[nodiscard]] int Run(const FileNode& root);

    const Counts& GetCounts() const { return report.GetCounts(); }
    // How the entries are told (lines by default).
    void SetReportForm(RemovalReport::Form form) { report.SetForm(form); }

    // After Run: whether no listed entry was there at all (each one missing, a shortcut of the
    // same name that is not the product's aside), so that the target holds nothing of the product.
    bool FoundNothing() const;

private:
    // An open directory of the tree with its identity and full path.
    struct Directory
    {
        FileDescriptor fd;
        NodeIdentity identity;
        TqString path;
    };
    // A listed directory being handled, as a level of the walk's own stack: the walk keeps it on
    // the heap so that a deep definition costs memory, not call stack.
    struct Level
    {
        Directory directory;
        const FileNode* node = nullptr;
        // Its entries in the order they are handled: the one holding the definition last.
        std::vector<const FileNode*> entries;
        const FileNode* holdsDefinition = nullptr;
        size_t next = 0;
    };

    // The open directory fd at path, identified; opened from name in parentFd, following no link.
    static Result<Directory> identified(FileDescriptor fd, const TqString& path);
    static Result<Directory> openDirectory(int parentFd, const TqString& name, const TqString& path);
    void handleTree(Directory target, const FileNode& root);
    // Opens a listed directory to handle its entries; false when it cannot be (then reported).
    bool enterDirectory(const Directory& parent, const FileNode& node, const TqString& path, Level& level);
    void orderEntries(Level& level) const;
    // Prepares the changes for emptying the level's folder, and tells them which names the walk
    // will remove from it.
    void prepareToEmpty(const Level& level) const;
    // A listed directory after its entries: removed when empty, else kept with the reason.
    void leaveDirectory(const Directory& parent, const Level& level);
    unsigned long unlistedEntries(const Level& level) const;
    // Each handler returns whether the entry is gone afterwards (or would be, in a dry run).
    bool handleFile(const Directory& parent, const FileNode& node, const TqString& path,
                    bool holdsDefinition);
    bool handleBundle(const Directory& parent, const FileNode& node, const TqString& path);
    bool handleUnopenedDirectory(const Directory& parent, const FileNode& node, const TqString& path,
                                 const Status& opening);
    void reportMissingBelow(const FileNode& node, const TqString& path);
    // After a stop: the entry at path in level's folder and what is listed below it, as they are.
    void reportUnreached(const Level& level, const FileNode& entry, const TqString& path);
    // The shortcut goes with its entry: it stays while the entry stays (kept or failed).
    // installedFolder: the open folder that holds the entry; null when that folder is missing.
    void handleShortCut(const FileNode& node, const TqString& installedPath, bool entryGone,
                        const NodeIdentity* installedFolder);
    // A shortcut's link: the folder it lies in, open and by path, and its own path.
    struct ShortCutLink
    {
        int folderFd;
        TqString folderPath;
        TqString path;
    };
    void removeShortCutLink(const FileNode& node, const ShortCutLink& link, const TqString& installedPath,
                            bool entryGone, const NodeIdentity* installedFolder);
    // Whether the link text leads to the installed entry, relatively or absolutely.
    static bool leadsTo(const ShortCutLink& link, const TqString& linkText, const TqString& entryName,
                        const TqString& installedPath, const NodeIdentity* installedFolder);
    // The path of the shortcut folder dir; the refusal for a name in it that may not be used.
    Result<TqString> shortCutFolderPath(const TqString& dir) const;
    Result<FileDescriptor> openShortCutFolder(const TqString& dir, const TqString& folderPath) const;
    bool holdsDefinition(const NodeIdentity& identity) const;

    // Each reports the entry at path and returns whether it is gone.
    bool removed(const TqString& path);
    bool kept(const TqString& path, const TqString& why = TqString());
    bool missing(const TqString& path);
    bool failed(const FileNode& node, const TqString& path, const TqString& reason);
    bool refused(const TqString& name, const TqString& reason);
    // After a change: done is removed, not found missing, anything else a failure, explained by
    // what stands in the way of name in folderFd when they are given.
    bool settle(const FileNode& node, const TqString& path, const Status& change, int folderFd = -1,
                const char* name = nullptr);

    TqString targetPath;
    std::unique_ptr<DiskChanges> changes;
    RemovalReport report;
    FILE* errors;
    RemovalGuard guard;
    int targetFd = -1;
    int givenTargetFd = -1;
    // Shortcuts left because they are not the product's links: they say nothing of the product.
    unsigned long foreignShortCuts = 0;
    // The definition file and every folder above it.
    std::vector<NodeIdentity> definitionHolders;
    bool (*stopAsked)() = nullptr;
    bool cancelled = false;
    std::chrono::milliseconds progressInterval{100};
};

#endif
