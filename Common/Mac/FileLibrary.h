#ifndef TQ_FILELIBRARY_H
#define TQ_FILELIBRARY_H

#include <vector>

#include "TqString.h"

// File-system tests, whole-file reading, and changes made by running one external command each.
// Commands are started as argument vectors, never through a shell, with "--" before the paths, so
// every path reaches its command as one literal argument whatever bytes it holds.
namespace FileLibrary
{

// Paths RemoveFolder never removes, compared ignoring ASCII case after "/../" steps are collapsed.
extern const char* const denyList[];
constexpr unsigned int count = 4;

// True for an existing regular file (isDirectory false) or directory (isDirectory true); symbolic
// links count as what they lead to.
bool IsFileExists(TqString path, bool isDirectory);
bool IsDirectoryExists(TqString path);
// The whole content of a regular file, NUL bytes included, or empty on any failure.
TqString readFile(TqString path);

[[nodiscard]] bool CreateDirectory(TqString path, bool withParents);
[[nodiscard]] bool CopyFile(TqString source, TqString destination);
// A missing file counts as removed.
[[nodiscard]] bool RemoveFile(const TqString& path);
// True when there is no directory to remove; false for a directory that still has entries.
[[nodiscard]] bool RemoveEmptyDirectory(TqString path);
// Removes a directory tree. True when there is no directory to remove; false, without running
// anything, for a deny-list path or one whose real location is the file-system root.
[[nodiscard]] bool RemoveFolder(const TqString& path);
// Copies a tree, merging into an existing destination; a destination that is a symbolic link is
// removed first. The third argument has no effect.
[[nodiscard]] bool CopyFolder(TqString source, TqString destination, bool unused);
// Makes a symbolic link at link holding target as given; target must exist.
[[nodiscard]] bool CreateShortCut(const TqString& target, const TqString& link);

// Starts arguments[0] (looked up on PATH) with the arguments, without a shell, and waits for it.
// Returns its exit status, or -1 when it could not be started or did not exit normally.
[[nodiscard]] int RunCommand(const std::vector<TqString>& arguments);

// The one runner every file-system change goes through; tests replace it to watch or stub
// commands. Returns the previous runner; null restores RunCommand.
using CommandRunner = int (*)(const std::vector<TqString>& arguments);
CommandRunner SetCommandRunner(CommandRunner runner);

} // namespace FileLibrary

#endif
