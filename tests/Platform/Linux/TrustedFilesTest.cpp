#include <unistd.h>

#include "PlatformTestFolder.h"
#include "TrustedFiles.h"

namespace
{

// A uid no account on the machine uses, standing for another user.
const uid_t kOtherUser = 54321;

class TrustedFilesTest : public PlatformTestFolder
{
protected:
    // An installed bundle's three files, root-owned as the test runs as root.
    std::string Bundle(const std::string& name)
    {
        for (const char* file : {"InstallUtility", "sku.xml", "target_path.xml"})
            WriteFile(name + "/Contents/MacOS/" + file, "x", 0755);
        return Path(name);
    }
};

} // namespace

// Who controls an installation: root alone (rights are asked for), one user (the tool runs as that
// user, and root copies and runs nothing of it), or no one user (refused, naming the item).
TEST_F(TrustedFilesTest, InstallationsAreRootsOrOneUsersOrRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "root-owned and user-owned installations need root to lay out";
    struct Case
    {
        const char* name;
        const char* ownedByUser;  // chowned to kOtherUser, under the bundle; "" for none
        const char* ownedByThird; // chowned to a third uid
        const char* groupWritable;
        bool roots;
        int user; // the controlling user, or -1 when refused
    };
    const Case cases[] = {
        {"root's", "", "", "", true, 0},
        {"a user's folder above", "Contents", "", "", false, int(kOtherUser)},
        {"a user's tool", "Contents/MacOS/InstallUtility", "", "", false, int(kOtherUser)},
        {"a data file others may write", "", "", "Contents/MacOS/sku.xml", false, -1},
        {"two users", "Contents", "Contents/MacOS/InstallUtility", "", false, -1},
        {"a tool others may write", "", "", "Contents/MacOS/InstallUtility", false, -1},
    };
    for (const Case& c : cases)
    {
        const std::string bundle = Bundle(std::string("opt/") + c.name + ".app");
        for (const auto& [item, uid] :
             {std::pair{c.ownedByUser, kOtherUser}, std::pair{c.ownedByThird, kOtherUser + 1}})
            ASSERT_TRUE(!*item || chown((bundle + "/" + item).c_str(), uid, uid) == 0) << item;
        if (*c.groupWritable)
            chmod((bundle + "/" + c.groupWritable).c_str(), 0775);
        // Reached through a link: the real paths come back.
        const std::string link = Path(std::string("link to ") + c.name);
        ASSERT_EQ(symlink((bundle + "/Contents").c_str(), link.c_str()), 0);
        RemovalFiles files{(link + "/MacOS/InstallUtility").c_str(), (link + "/MacOS/sku.xml").c_str(),
                           (link + "/MacOS/target_path.xml").c_str()};
        const Result<uid_t> settled = SettleControl(files);
        const std::string why = settled.GetStatus().Text().ConstData();
        // The user found, with the real paths, or the refusal naming the item.
        EXPECT_TRUE(c.user >= 0
                        ? settled.IsDone() && int(settled.Value()) == c.user &&
                              std::string(files.definition.ConstData()) == bundle + "/Contents/MacOS/sku.xml"
                        : why.find(bundle) != std::string::npos)
            << c.name << ": " << why;
        // Root runs only its own installation, and says whom to ask for the rest.
        Vector<TqString> installed;
        for (const char* item : {"", "/Contents/MacOS/InstallUtility", "/Contents/MacOS/sku.xml"})
            installed.push_back((bundle + item).c_str());
        const Status mayRun = CheckRootMayRun(installed);
        EXPECT_EQ(mayRun.IsDone(), c.roots) << c.name;
        const std::string refusal = mayRun.Text().ConstData();
        const std::string uid = std::to_string(c.user);
        EXPECT_TRUE(c.user <= 0 || refusal.find("controlled by uid " + uid + " (#" + uid +
                                                "), not by root alone") != std::string::npos)
            << refusal;
    }

    // A missing file is named.
    const std::string executables = Bundle("opt/Demo.app") + "/Contents/MacOS/";
    std::filesystem::remove(executables + "target_path.xml");
    RemovalFiles incomplete{(executables + "InstallUtility").c_str(), (executables + "sku.xml").c_str(),
                            (executables + "target_path.xml").c_str()};
    EXPECT_EQ(std::string(SettleControl(incomplete).GetStatus().Text().ConstData()),
              executables + "target_path.xml: No such file or directory");
}
