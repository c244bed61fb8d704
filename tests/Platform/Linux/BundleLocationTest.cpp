#include <unistd.h>

#include "BundleLocation.h"
#include "LinuxPlatform.h"
#include "PlatformTestFolder.h"

using BundleLocationTest = PlatformTestFolder;

TEST_F(BundleLocationTest, AuxiliaryFilesResolveOnlyWhenPresent)
{
    std::string executables = Path("Uninstall.app/Contents/MacOS");
    WriteFile("Uninstall.app/Contents/MacOS/sku.xml", "<product/>");
    EXPECT_STREQ(AuxiliaryPath(executables.c_str(), "sku.xml").ConstData(),
                 (executables + "/sku.xml").c_str());
    EXPECT_STREQ(AuxiliaryPath((executables + "/").c_str(), "sku.xml").ConstData(),
                 (executables + "/sku.xml").c_str());
    EXPECT_TRUE(AuxiliaryPath(executables.c_str(), "target_path.xml").IsEmpty());
    EXPECT_TRUE(AuxiliaryPath(executables.c_str(), "").IsEmpty());
    EXPECT_TRUE(AuxiliaryPath(executables.c_str(), "../MacOS/sku.xml").IsEmpty());
    EXPECT_TRUE(AuxiliaryPath(TqString(), "sku.xml").IsEmpty());
}

TEST(BundleLocation, BundleIsTwoLevelsAboveContentsMacOS)
{
    EXPECT_STREQ(BundlePathOf("/opt/Demo/Uninstall.app/Contents/MacOS").ConstData(),
                 "/opt/Demo/Uninstall.app");
    EXPECT_STREQ(BundlePathOf("/opt/Demo/Uninstall.app/Contents/MacOS/").ConstData(),
                 "/opt/Demo/Uninstall.app");
    EXPECT_STREQ(BundlePathOf("/Contents/MacOS").ConstData(), "/");
    EXPECT_STREQ(BundlePathOf("/usr/local/bin").ConstData(), "/usr/local/bin");
    EXPECT_STREQ(BundlePathOf("/opt/XContents/MacOS").ConstData(), "/opt/XContents/MacOS");
}

TEST(BundleLocation, ExecutableFolderIsWhereThisProgramLies)
{
    char self[4096];
    ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(size, 0);
    std::string expected(self, static_cast<size_t>(size));
    expected.erase(expected.rfind('/'));
    EXPECT_EQ(std::string(ExecutableFolder().ConstData()), expected);
}

// The second phase removes the folder its bundle lies in only when it is a run folder this program
// makes; a program that runs from anywhere else (here: the test's own folder) removes nothing.
TEST(LinuxPlatform, RemovesOnlyARunFolderOfItsOwnMaking)
{
    LinuxPlatform platform;
    const std::string executable = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_FALSE(platform.RemoveRunningCopy().IsDone());
    EXPECT_TRUE(std::filesystem::exists(executable));
}
