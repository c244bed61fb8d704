#include <gtest/gtest.h>

#include <cstdint>

#include "RemovalGuard.h"

namespace
{

NodeIdentity identity(dev_t device, ino_t inode, uint64_t mount = 30)
{
    NodeIdentity result;
    result.device = device;
    result.inode = inode;
    result.mount = mount;
    return result;
}

const NodeIdentity root = identity(1, 2);
const NodeIdentity target = identity(1, 500);
const NodeIdentity targetParent = identity(1, 400);
const NodeIdentity bundle = identity(1, 600);

bool refused(const Status& decision)
{
    return !decision.IsDone();
}

// The refusal's reason; empty when the guard lets it go.
std::string reason(const Status& decision)
{
    return decision.Message().ConstData();
}

} // namespace

TEST(RemovalGuardTest, NameRefusal)
{
    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString())), "empty name");
    EXPECT_NE(reason(RemovalGuard::NameRefusal(TqString("."))), "");
    EXPECT_NE(reason(RemovalGuard::NameRefusal(TqString(".."))), "");
    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString("a/b"))), "holds a path separator");
    EXPECT_NE(reason(RemovalGuard::NameRefusal(TqString("/"))), "");
    EXPECT_NE(reason(RemovalGuard::NameRefusal(TqString("../etc"))), "");
    EXPECT_NE(reason(RemovalGuard::NameRefusal(TqString("name/"))), "");

    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString("..."))), "");
    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString(".hidden"))), "");
    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString("Tq Studio Effects.app"))), "");
    EXPECT_EQ(reason(RemovalGuard::NameRefusal(TqString("a..b"))), "");
}

TEST(RemovalGuardTest, NeverRemovesTopLevelDirectoriesOrTheTargetWhole)
{
    const RemovalGuard guard(TqString("/opt/Product/"), target, root);

    // A bundle inside the product may go.
    EXPECT_EQ(reason(guard.WholeRemovalRefusal(TqString("/opt/Product/App.bundle"), bundle, target)), "");
    EXPECT_EQ(
        reason(guard.WholeRemovalRefusal(TqString("/opt/Product/Plug-Ins/X.vst"), bundle, identity(1, 700))),
        "");

    // "/" and the directories directly under it, by path text, never.
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/"), root, root)));
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/usr"), bundle, targetParent)));
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("//usr//"), bundle, targetParent)));
    EXPECT_EQ(reason(guard.WholeRemovalRefusal(TqString("/etc"), bundle, targetParent)),
              "a directory directly under / is never removed whole");

    // The same when only the identities tell, as when a link in the target path leads to "/".
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/opt/Product/usr"), bundle, root)));
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/opt/Product/x"), root, target)));

    // The target path itself, by its text (slashes aside) or by its identity (a bind mount).
    EXPECT_EQ(reason(guard.WholeRemovalRefusal(TqString("/opt/Product"), bundle, targetParent)),
              "the target path itself is never removed whole");
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/opt//Product/"), bundle, targetParent)));
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/opt/Product/Mirror"), target, target)));

    // Only absolute paths are judged at all.
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("Product/App.bundle"), bundle, target)));
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString(), bundle, target)));
}

TEST(RemovalGuardTest, TargetAtTheTopOfTheTree)
{
    // With "/" as the target, its top-level entries are exactly the directories under "/".
    const RemovalGuard guard(TqString("/"), root, root);
    EXPECT_TRUE(refused(guard.WholeRemovalRefusal(TqString("/Applications"), bundle, root)));
    EXPECT_EQ(reason(guard.WholeRemovalRefusal(TqString("/Applications/App.app"), bundle, identity(1, 800))),
              "");

    // A target directly under "/" may hold removable bundles, but is itself never removed.
    const RemovalGuard topLevel(TqString("/Product"), target, root);
    EXPECT_EQ(reason(topLevel.WholeRemovalRefusal(TqString("/Product/App.app"), bundle, target)), "");
    EXPECT_TRUE(refused(topLevel.WholeRemovalRefusal(TqString("/Product"), target, root)));
}

TEST(RemovalGuardTest, EntryRefusal)
{
    const RemovalGuard guard(TqString("/opt/Product"), target, root);
    EXPECT_EQ(reason(guard.EntryRefusal(bundle, 30)), "");
    // A bind mount of a folder of the same file system: same device, another mount.
    EXPECT_EQ(reason(guard.EntryRefusal(identity(1, 601, 31), 30)), "on another mount, not entered");
    // The target and "/" by device and inode, through any mount, even the bundle's own (as where
    // the kernel tells no mount and the device stands in for it).
    for (const uint64_t mount : {30, 31})
    {
        EXPECT_EQ(reason(guard.EntryRefusal(identity(1, 500, mount), 30)),
                  "the target path itself, not entered");
        EXPECT_EQ(reason(guard.EntryRefusal(identity(1, 2, mount), 30)), "the root folder /, not entered");
    }
}

TEST(RemovalGuardTest, KeepsEmptyDirectoriesDirectlyUnderTheRoot)
{
    const RemovalGuard atRoot(TqString("/"), root, root);
    EXPECT_TRUE(atRoot.KeepsEmptyDirectory(TqString("/home"), root));
    EXPECT_TRUE(atRoot.KeepsEmptyDirectory(TqString("//opt/"), root));
    EXPECT_FALSE(atRoot.KeepsEmptyDirectory(TqString("/opt/Product"), identity(1, 40)));
    // A target path that leads to "/" through a link: told by the parent's identity.
    const RemovalGuard linked(TqString("/srv/rootlink"), root, root);
    EXPECT_TRUE(linked.KeepsEmptyDirectory(TqString("/srv/rootlink/usr"), root));
    EXPECT_FALSE(linked.KeepsEmptyDirectory(TqString("/srv/rootlink/usr/share"), identity(1, 41)));
}
