#ifndef TQ_REMOVALFIXTURE_H
#define TQ_REMOVALFIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/fs.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"
#include "FileNode.h"
#include "SKUDefinition.h"
#include "TemporaryFolder.h"
#include "XMLReading.h"

// A private temporary folder holding the target path ("target") and a place outside it
// ("outside") whose canary files must survive every removal.
class RemovalFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        base = temporary.path();
        target = base + "/target";
        outside = base + "/outside";
        ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
        writeFile(outside + "/canary.txt", "canary");
    }

    void TearDown() override
    {
        for (const std::string& path : immutable)
            setImmutable(path, false);
        for (auto mount = mounts.rbegin(); mount != mounts.rend(); ++mount)
            umount2(mount->c_str(), MNT_DETACH);
    }

    static void writeFile(const std::string& path, const std::string& text)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << text;
    }

    static void makeDirectory(const std::string& path) { std::filesystem::create_directories(path); }

    static void makeLink(const std::string& pointsAt, const std::string& path)
    {
        ASSERT_EQ(symlink(pointsAt.c_str(), path.c_str()), 0) << path << ": " << strerror(errno);
    }

    // Whether anything (a dangling link included) is at path.
    static bool exists(const std::string& path)
    {
        struct stat status;
        return lstat(path.c_str(), &status) == 0;
    }

    static std::string readFile(const std::string& path) { return TemporaryFolder::ReadFile(path); }

    // Every path below root, sorted, with a trailing "@" for links: a snapshot to compare.
    static std::vector<std::string> listing(const std::string& root)
    {
        std::vector<std::string> paths;
        for (auto it = std::filesystem::recursive_directory_iterator(root);
             it != std::filesystem::recursive_directory_iterator(); ++it)
            paths.push_back(it->path().string() + (it->is_symlink() ? "@" : ""));
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // The install-file tree of a definition whose installFiles holds entries, read as the tool reads it.
    static FileNode tree(const std::string& entries)
    {
        return definitionTree("<product><installFiles>" + entries + "</installFiles></product>");
    }

    static FileNode definitionTree(const std::string& text)
    {
        SKUDefinition definition;
        (void)XMLReading::ReadDefinitionText(text.data(), text.size(), definition);
        return definition.installRoot;
    }

    // Every node below root (root included), sorted, with its inode, type and content or link text.
    static std::vector<std::string> snapshot(const std::string& root)
    {
        std::vector<std::string> nodes{describe(root)};
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(root, error);
             it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            nodes.push_back(describe(it->path().string()));
        std::sort(nodes.begin(), nodes.end());
        return nodes;
    }

    static std::string describe(const std::string& path)
    {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0)
            return path + " absent";
        std::string text = path + " " + std::to_string(status.st_ino) + " ";
        if (S_ISLNK(status.st_mode))
            return text + "link " + std::filesystem::read_symlink(path).string();
        if (S_ISDIR(status.st_mode))
            return text + "folder";
        return text + "file " + readFile(path);
    }

    // Moves this test process into a mount namespace of its own, so that its mounts are seen by
    // nobody else and end with it; false with the reason when this system refuses.
    static bool enterPrivateMountNamespace(std::string& reason)
    {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        {
            reason = std::string("cannot make a private mount namespace (needs root): ") + strerror(errno);
            return false;
        }
        return true;
    }

    // Shows the folder from at the folder path (made if needed), as a bind mount does.
    bool bindMount(const std::string& from, const std::string& path, std::string& reason)
    {
        makeDirectory(path);
        if (mount(from.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
        {
            reason = std::string("cannot bind mount: ") + strerror(errno);
            return false;
        }
        mounts.push_back(path);
        return true;
    }

    // A tmpfs mounted at path (made if needed); false with the reason when this system refuses.
    bool mountTmpfs(const std::string& path, std::string& reason)
    {
        makeDirectory(path);
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") != 0)
        {
            reason = std::string("cannot mount a tmpfs (needs root): ") + strerror(errno);
            return false;
        }
        mounts.push_back(path);
        return true;
    }

    // Marks a file immutable, so that not even root can remove it; false with the reason when
    // the file system does not support the flag.
    bool makeImmutable(const std::string& path, std::string& reason)
    {
        if (!setImmutable(path, true))
        {
            reason = std::string("cannot set the immutable flag (needs root and ext4 or similar): ") +
                     strerror(errno);
            return false;
        }
        immutable.push_back(path);
        return true;
    }

    static bool setImmutable(const std::string& path, bool on)
    {
        const FileDescriptor file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        int flags = 0;
        if (!file.IsOpen() || ioctl(file.Get(), FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        return ioctl(file.Get(), FS_IOC_SETFLAGS, &flags) == 0;
    }

    TemporaryFolder temporary{"installutility-test"};
    std::string base;
    std::string target;
    std::string outside;
    std::vector<std::string> mounts;
    std::vector<std::string> immutable;
};

// Collects what a FILE* receives, for comparing output lines exactly.
class CapturedStream
{
public:
    CapturedStream() : stream(open_memstream(&buffer, &size)) {}
    ~CapturedStream()
    {
        if (stream != nullptr)
            fclose(stream);
        free(buffer);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    FILE* get() { return stream; }
    std::string text()
    {
        fflush(stream);
        return std::string(buffer, size);
    }

private:
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream;
};

#endif
