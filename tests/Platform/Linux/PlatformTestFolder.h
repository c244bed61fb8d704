#ifndef TQ_PLATFORMTESTFOLDER_H
#define TQ_PLATFORMTESTFOLDER_H

#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "TemporaryFolder.h"

// A fresh folder per test, removed afterwards, with helpers to lay out files in it.
class PlatformTestFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(temporary.path().empty()) << temporary.why();
        folder = temporary.path();
    }

    std::string Path(const std::string& relative) const { return folder + "/" + relative; }

    std::string WriteFile(const std::string& relative, const std::string& content, mode_t mode = 0644)
    {
        return TemporaryFolder::WriteFile(Path(relative), content, mode);
    }

    static std::string ReadFile(const std::string& path) { return TemporaryFolder::ReadFile(path); }

    static mode_t ModeOf(const std::string& path)
    {
        struct stat status;
        return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
    }

    TemporaryFolder temporary{"platformtest"};
    std::string folder;
};

#endif
