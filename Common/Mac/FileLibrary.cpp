#include "FileLibrary.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "FileStream.h"
#include "PathLibrary.h"

extern char** environ;

namespace FileLibrary
{

const char* const denyList[count] = {"/", ".", "/*", "*"};

} // namespace FileLibrary

namespace
{

FileLibrary::CommandRunner currentRunner = &FileLibrary::RunCommand;

// A path with a NUL byte inside would reach the C library cut short, naming another file.
bool HoldsNulByte(const TqString& text)
{
    return std::strlen(text.ConstData()) != text.Size();
}

// Runs one command through the current runner; true when it exited with status 0.
bool Run(const std::vector<TqString>& arguments)
{
    for (const TqString& argument : arguments)
    {
        if (HoldsNulByte(argument))
            return false;
    }
    return currentRunner(arguments) == 0;
}

bool IsSymbolicLink(const TqString& path)
{
    struct stat status;
    return lstat(path.ConstData(), &status) == 0 && S_ISLNK(status.st_mode);
}

// True when the path resolves to "/" or cannot be resolved at all: both are refused for removal.
bool ResolvesToRootOrNowhere(const TqString& path)
{
    char* resolved = realpath(path.ConstData(), nullptr);
    if (resolved == nullptr)
        return true;
    const bool isRoot = std::strcmp(resolved, "/") == 0;
    std::free(resolved);
    return isRoot;
}

} // namespace

namespace FileLibrary
{

bool IsFileExists(TqString path, bool isDirectory)
{
    if (path.IsEmpty() || HoldsNulByte(path))
        return false;
    struct stat status;
    if (stat(path.ConstData(), &status) != 0)
        return false;
    if (S_ISREG(status.st_mode))
        return !isDirectory;
    return isDirectory && S_ISDIR(status.st_mode);
}

bool IsDirectoryExists(TqString path)
{
    return IsFileExists(path, true);
}

TqString readFile(TqString path)
{
    TqString result;
    // Only regular files: opening a FIFO would block, and a directory has no content to read. The
    // check is made on the opened file, so a FIFO put in place after a look at the path cannot block.
    if (!IsFileExists(path, false))
        return result;
    FileDescriptor fd(open(path.ConstData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (!fd.IsOpen() || fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode))
        return result;
    const FileStream file(fdopen(fd.Get(), "rb"));
    if (!file.IsOpen())
        return result;
    (void)fd.Release(); // the stream closes it now
    const long start = std::ftell(file.Get());
    if (std::fseek(file.Get(), 0, SEEK_END) != 0)
        return result;
    const long size = std::ftell(file.Get());
    if (size <= 0 || std::fseek(file.Get(), start, SEEK_SET) != 0)
        return result;
    char* buffer = new (std::nothrow) char[static_cast<size_t>(size)];
    if (buffer != nullptr)
    {
        if (std::fread(buffer, 1, static_cast<size_t>(size), file.Get()) == static_cast<size_t>(size))
            result = TqString(buffer, static_cast<unsigned long>(size));
        delete[] buffer;
    }
    return result;
}

bool CreateDirectory(TqString path, bool withParents)
{
    if (withParents)
        return Run({"mkdir", "-p", "--", path});
    return Run({"mkdir", "--", path});
}

bool CopyFile(TqString source, TqString destination)
{
    if (!IsFileExists(source, false))
        return false;
    return Run({"cp", "-f", "--", source, destination});
}

bool RemoveFile(const TqString& path)
{
    if (path.IsEmpty())
        return false;
    return Run({"rm", "-f", "--", path});
}

bool RemoveEmptyDirectory(TqString path)
{
    if (!IsDirectoryExists(path))
        return true;
    return Run({"rmdir", "--", path});
}

bool RemoveFolder(const TqString& path)
{
    if (!IsDirectoryExists(path))
        return true;
    TqString collapsed = PathLibrary::CollapsePath(path);
    if (collapsed.IsEmpty())
        return false;
    // "link/" names the folder the link points at, and rm would empty that folder: the link
    // itself is what goes.
    unsigned long end = collapsed.Size();
    while (end > 1 && collapsed[end - 1] == '/')
        --end;
    collapsed = collapsed.Substr(0, end);
    for (unsigned int i = 0; i < count; ++i)
    {
        if (collapsed.EqualsIgnoreCase(TqString(denyList[i])))
            return false;
    }
    // Other spellings of the root ("//", "/./", a link to "/") must not reach "rm -rf" either.
    if (ResolvesToRootOrNowhere(collapsed))
        return false;
    return Run({"rm", "-rf", "--", collapsed});
}

bool CopyFolder(TqString source, TqString destination, bool)
{
    if (!IsDirectoryExists(source))
        return false;
    if (IsSymbolicLink(destination))
    {
        // A link that could not be removed must not be copied through (it may lead to "/").
        if (!RemoveFolder(destination) || IsSymbolicLink(destination))
            return false;
    }
#ifdef __APPLE__
    const bool copied = Run({"ditto", "--", source, destination});
#else
    // GNU cp's stand-in for ditto: creates or merges into the destination, keeps links and modes.
    const bool copied = Run({"cp", "-a", "-T", "--", source, destination});
#endif
    if (copied)
        Run({"touch", "--", destination});
    return copied;
}

bool CreateShortCut(const TqString& target, const TqString& link)
{
    if (target.IsEmpty() || link.IsEmpty())
        return false;
    if (!IsFileExists(target, false) && !IsFileExists(target, true))
        return false;
    return Run({"ln", "-sf", "--", target, link});
}

int RunCommand(const std::vector<TqString>& arguments)
{
    if (arguments.empty())
        return -1;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const TqString& argument : arguments)
        argv.push_back(const_cast<char*>(argument.ConstData()));
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) == -1)
    {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

CommandRunner SetCommandRunner(CommandRunner runner)
{
    const CommandRunner previous = currentRunner;
    currentRunner = runner != nullptr ? runner : &RunCommand;
    return previous;
}

} // namespace FileLibrary
