#ifndef TQ_TEMPORARYFOLDER_H
#define TQ_TEMPORARYFOLDER_H

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// A fresh folder under $TMPDIR (or /tmp), by its real path, removed with everything in it when the
// object goes. The one place the tests make temporary folders.
class TemporaryFolder
{
public:
    explicit TemporaryFolder(const std::string& prefix = "tqtest")
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
        {
            error = std::strerror(errno);
            return;
        }
        char* resolved = realpath(pattern.c_str(), nullptr);
        root = resolved != nullptr ? resolved : pattern;
        std::free(resolved);
    }
    ~TemporaryFolder()
    {
        if (root.empty())
            return;
        // Folders a test made unreadable or unwritable are opened up so everything can go.
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 root, std::filesystem::directory_options::skip_permission_denied, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                chmod(it->path().c_str(), 0700);
        }
        std::filesystem::remove_all(root, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // Empty when the folder could not be made; then why() says why.
    const std::string& path() const { return root; }
    const std::string& why() const { return error; }
    std::string Path(const std::string& relative) const { return root + "/" + relative; }

    // Writes content to path (absolute), making the folders above it, and gives it mode.
    static std::string WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        chmod(path.c_str(), mode);
        return path;
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream input(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    }

private:
    std::string root;
    std::string error;
};

#endif
