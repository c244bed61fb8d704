#ifndef TQ_PLATFORMTESTFOLDER_H
#define TQ_PLATFORMTESTFOLDER_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

// A fresh folder per test, removed afterwards, with helpers to lay out files in it.
class PlatformTestFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/platformtest-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string Path(const std::string& relative) const { return folder + "/" + relative; }

    std::string WriteFile(const std::string& relative, const std::string& content, mode_t mode = 0644)
    {
        std::string path = Path(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream input(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    }

    static mode_t ModeOf(const std::string& path)
    {
        struct stat status;
        return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
    }

    std::string folder;
};

#endif
