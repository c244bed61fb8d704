#include "InstallRemover.h"
#include "ProtectedPath.h"
#include "FileDescriptor.h"
#include "RemovalFixture.h"
#include "RunProgram.h"

#include <atomic>
#include <functional>
#include <pthread.h>
#include <thread>

namespace
{

struct Outcome
{
    int status;
    std::string out;
    std::string errors;
    InstallRemover::Counts counts;
};

class InstallRemoverTest : public RemovalFixture
{
protected:
    // Runs the removal; prepare, when given, sets what the test adds (a stop check, a progress pace).
    using Prepare = std::function<void(InstallRemover&)>;
    Outcome run(const FileNode& root, bool verbose = true, bool dryRun = false, const Prepare& prepare = {})
    {
        return runAt(target, root, verbose, dryRun, definitionPath, prepare);
    }

    static Outcome runAt(const std::string& targetPath, const FileNode& root, bool verbose, bool dryRun,
                         const std::string& definitionPath = "", const Prepare& prepare = {})
    {
        CapturedStream out;
        CapturedStream errors;
        InstallRemover remover(TqString(targetPath.c_str()), verbose, dryRun, out.get(), errors.get());
        // As the command does: it opens the target, the remover works in the folder it was given.
        const FileDescriptor targetFolder(open(targetPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        remover.SetTargetFolder(targetFolder.Get());
        Result<ProtectedPath::OpenedPath> definition = ProtectedPath::Open(definitionPath.c_str());
        if (!definitionPath.empty() && definition.IsDone())
            remover.SetDefinition(definition.Value().item.Get(), definition.Value().folder.Get());
        if (prepare)
            prepare(remover);
        Outcome outcome;
        outcome.status = remover.Run(root);
        outcome.out = out.text();
        outcome.errors = errors.text();
        outcome.counts = remover.GetCounts();
        return outcome;
    }

    std::string line(const std::string& word, const std::string& relative)
    {
        return word + " " + target + "/" + relative + "\n";
    }

    // The definition the removal is told it reads, when set.
    std::string definitionPath;

    std::string kept(const std::string& relative, const std::string& why)
    {
        return "kept " + target + "/" + relative + ": " + why + "\n";
    }

    // Runs the removal with "/" as its target inside a child process whose root is the folder
    // top, and returns its -v output; sets skipReason when the child cannot change its root.
    static std::string runWithRootAt(const std::string& top, const FileNode& root, bool dryRun,
                                     std::string& skipReason)
    {
        const RunProgram::ChildOutcome child = RunProgram::RunInChild(
            [&](int output)
            {
                FILE* out = fdopen(output, "w");
                int status = 99;
                if (chroot(top.c_str()) != 0 || chdir("/") != 0)
                    fprintf(out, "cannot change the root (needs root): %s", strerror(errno));
                else
                {
                    InstallRemover remover(TqString("/"), true, dryRun, out, out);
                    remover.SetTargetFolder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                    status = remover.Run(root);
                }
                fclose(out);
                return status;
            });
        if (child.waitStatus && WIFEXITED(*child.waitStatus) && WEXITSTATUS(*child.waitStatus) == 99)
            skipReason = child.text;
        return child.text;
    }
};

} // namespace

TEST_F(InstallRemoverTest, VerboseLinesAndSummary)
{
    // A missing directory reports each of its entries missing too.
    const FileNode root = tree("<file fileName='notes.txt'/><file fileName='gone.txt'/>"
                               "<directory fileName='lib'><file fileName='a.so'/></directory>"
                               "<file fileName='keep.cfg' dontdelete='1'/><directory fileName='Gone'>"
                               "<directory fileName='Sub'><file fileName='b'/></directory></directory>");
    writeFile(target + "/notes.txt", "n");
    writeFile(target + "/keep.cfg", "k");
    writeFile(target + "/lib/a.so", "so");

    const Outcome outcome = run(root);
    // Entries come in the tree's order: longer names first, then by their bytes.
    EXPECT_EQ(outcome.out, line("removed", "notes.txt") + line("missing", "gone.txt") +
                               kept("keep.cfg", "marked to keep") + line("missing", "Gone") +
                               line("missing", "Gone/Sub") + line("missing", "Gone/Sub/b") +
                               line("removed", "lib/a.so") + line("removed", "lib") +
                               "summary: 3 removed, 1 kept, 4 missing, 0 failed, 0 ignored\n");
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.counts.removed, 3u);
    EXPECT_EQ(outcome.counts.kept, 1u);
    EXPECT_EQ(outcome.counts.missing, 4u);
    EXPECT_FALSE(exists(target + "/notes.txt"));
    EXPECT_FALSE(exists(target + "/lib"));
    EXPECT_EQ(readFile(target + "/keep.cfg"), "k");

    // Without -v a clean run writes nothing at all.
    writeFile(target + "/notes.txt", "n");
    const Outcome quiet = run(root, false);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.errors, "");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_FALSE(exists(target + "/notes.txt"));
}

TEST_F(InstallRemoverTest, FileEntriesGoWhole)
{
    const FileNode root = tree("<file fileName='Tool'/><file fileName='App.bundle'/>"
                               "<file fileName='FileLink'/><file fileName='FolderLink'/>"
                               "<file fileName='Dangling'/>");
    writeFile(target + "/Tool", "tool");
    writeFile(target + "/App.bundle/Contents/MacOS/App", "app");
    writeFile(target + "/App.bundle/Contents/Resources/a.txt", "a");
    makeLink(outside + "/canary.txt", target + "/App.bundle/Contents/Outside");
    makeLink(outside + "/canary.txt", target + "/FileLink");
    makeLink(outside, target + "/FolderLink");
    makeLink(target + "/nowhere", target + "/Dangling");
    const std::vector<std::string> outsideBefore = listing(outside);

    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(outcome.counts.removed, 5u);
    EXPECT_TRUE(listing(target).empty());
    // Links go as links; what they point at stays.
    EXPECT_EQ(listing(outside), outsideBefore);
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
}

TEST_F(InstallRemoverTest, DontDeleteKeepsTheEntryButItsEntriesFollowTheirOwnFlags)
{
    const FileNode root = tree("<directory fileName='Settings' dontdelete='1'>"
                               "<file fileName='prefs'/><file fileName='cache' dontdelete='0'/>"
                               "<directory fileName='Deep'><file fileName='kept'/></directory>"
                               "<directory fileName='Own' dontdelete='0'><file fileName='f'/></directory>"
                               "</directory><file fileName='top' dontdelete='1'/>"
                               "<file fileName='notThere' dontdelete='1'/>");
    writeFile(target + "/Settings/prefs", "p");
    writeFile(target + "/Settings/cache", "c");
    writeFile(target + "/Settings/Deep/kept", "k");
    writeFile(target + "/Settings/Own/f", "f");
    writeFile(target + "/top", "t");

    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_TRUE(exists(target + "/Settings/prefs"));
    EXPECT_FALSE(exists(target + "/Settings/cache"));
    // The flag reaches two levels down; an inner "0" turns it off for that directory's entries.
    EXPECT_TRUE(exists(target + "/Settings/Deep/kept"));
    EXPECT_FALSE(exists(target + "/Settings/Own"));
    EXPECT_TRUE(exists(target + "/top"));
    EXPECT_NE(outcome.out.find(kept("Settings", "marked to keep")), std::string::npos);
    EXPECT_NE(outcome.out.find(kept("Settings/Deep", "marked to keep")), std::string::npos);
    EXPECT_NE(outcome.out.find(line("removed", "Settings/Own")), std::string::npos);
    EXPECT_NE(outcome.out.find(line("missing", "notThere")), std::string::npos);
    EXPECT_NE(outcome.out.find("summary: 3 removed, 5 kept, 1 missing, 0 failed, 0 ignored\n"),
              std::string::npos);

    // A kept directory stays even when all its entries went.
    const FileNode emptyKept = tree("<directory fileName='Shared' dontdelete='1'>"
                                    "<file fileName='mine' dontdelete='0'/></directory>");
    writeFile(target + "/Shared/mine", "m");
    const Outcome second = run(emptyKept);
    EXPECT_EQ(second.out, line("removed", "Shared/mine") + kept("Shared", "marked to keep") +
                              "summary: 1 removed, 1 kept, 0 missing, 0 failed, 0 ignored\n");
    EXPECT_TRUE(exists(target + "/Shared"));
}

TEST_F(InstallRemoverTest, FailuresFailTheRunUnlessIgnored)
{
    const FileNode root = tree("<file fileName='locked'/><file fileName='other'/>");
    writeFile(target + "/locked", "l");
    writeFile(target + "/other", "o");
    std::string reason;
    if (!makeImmutable(target + "/locked", reason))
        GTEST_SKIP() << reason;

    const std::string locked =
        target + "/locked: Operation not permitted: it has the immutable flag, which chattr -i clears\n";
    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.out, "failed " + locked + line("removed", "other") +
                               "summary: 1 removed, 0 kept, 0 missing, 1 failed, 0 ignored\n");
    EXPECT_EQ(outcome.status, 1);

    // Without -v the failure still shows, on the error stream.
    const Outcome quiet = run(tree("<file fileName='locked'/>"), false);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(quiet.errors, "failed " + locked);
    EXPECT_EQ(quiet.status, 1);

    const Outcome ignored = run(tree("<file fileName='locked' ignoreinstallerrors='1'/>"));
    EXPECT_EQ(ignored.out,
              "ignored " + locked + "summary: 0 removed, 0 kept, 0 missing, 0 failed, 1 ignored\n");
    EXPECT_EQ(ignored.status, 0);

    // A shortcut stays while its entry does.
    makeLink(target + "/locked", target + "/lockedLink");
    const Outcome withLink = run(tree("<file fileName='locked'><shortCut name='lockedLink'/></file>"));
    EXPECT_EQ(withLink.out, "failed " + locked + kept("lockedLink", "the entry it leads to stays") +
                                "summary: 0 removed, 1 kept, 0 missing, 1 failed, 0 ignored\n");
    EXPECT_TRUE(exists(target + "/lockedLink"));

    // The flag is inherited like the others, and an entry can turn it off again.
    writeFile(target + "/Logs/locked", "l");
    if (!makeImmutable(target + "/Logs/locked", reason))
        GTEST_SKIP() << reason;
    EXPECT_EQ(run(tree("<directory fileName='Logs' ignoreinstallerrors='1'><file fileName='locked'/>"
                       "</directory>"))
                  .status,
              0);
    EXPECT_EQ(run(tree("<directory fileName='Logs' ignoreinstallerrors='1'>"
                       "<file fileName='locked' ignoreinstallerrors='0'/></directory>"))
                  .status,
              1);
    EXPECT_TRUE(exists(target + "/Logs/locked"));
}

TEST_F(InstallRemoverTest, ShortcutsGoOnlyWhenTheyPointAtTheEntry)
{
    const FileNode root = tree("<directory fileName='App'>"
                               "<file fileName='Main.app'><shortCut name='Main' dir='Desktop'/></file>"
                               "<file fileName='Tool'><shortCut name='Tool'/></file>"
                               "<file fileName='Helper'><shortCut name='Helper' dir='Desktop'/></file>"
                               "<file fileName='Plain'><shortCut name='Plain' dir='Desktop'/></file>"
                               "<file fileName='Far'><shortCut name='Far' dir='" +
                               outside +
                               "'/></file>"
                               "<file fileName='Kept' dontdelete='1'><shortCut name='Kept'/></file>"
                               "<file fileName='Rel'><shortCut name='Rel' dir='" +
                               outside +
                               "/bin'/></file>"
                               "<file fileName='Via'><shortCut name='Via' dir='Desktop'/></file>"
                               "</directory>");
    writeFile(target + "/App/Main.app/Contents/x", "x");
    writeFile(target + "/App/Tool", "t");
    writeFile(target + "/App/Helper", "h");
    writeFile(target + "/App/Plain", "p");
    writeFile(target + "/App/Far", "f");
    writeFile(target + "/App/Kept", "k");
    makeDirectory(target + "/Desktop");
    makeLink(target + "/App/Main.app", target + "/Desktop/Main");
    makeLink(target + "//App/Tool/", target + "/Tool");
    makeLink(outside + "/canary.txt", target + "/Desktop/Helper"); // someone else's link
    writeFile(target + "/Desktop/Plain", "not a link");
    makeLink(target + "/App/Far", outside + "/Far");
    makeLink(target + "/App/Kept", target + "/Kept");
    // Relative links, as installers make them: one up and across, one through a linked folder.
    writeFile(target + "/App/Rel", "r");
    writeFile(target + "/App/Via", "v");
    makeDirectory(outside + "/bin");
    makeLink("../../target/App/Rel", outside + "/bin/Rel");
    makeLink("App", target + "/Alias");
    makeLink("../Alias/Via", target + "/Desktop/Via");

    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_FALSE(exists(target + "/Desktop/Main"));
    EXPECT_FALSE(exists(target + "/Tool"));
    EXPECT_FALSE(exists(outside + "/Far"));
    EXPECT_FALSE(exists(outside + "/bin/Rel"));
    EXPECT_FALSE(exists(target + "/Desktop/Via"));
    EXPECT_TRUE(exists(target + "/Desktop/Helper"));
    EXPECT_EQ(readFile(target + "/Desktop/Plain"), "not a link");
    EXPECT_TRUE(exists(target + "/Kept"));
    EXPECT_TRUE(exists(target + "/Desktop"));
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
    EXPECT_NE(outcome.out.find(line("removed", "Desktop/Main")), std::string::npos);
    EXPECT_NE(outcome.out.find(line("removed", "Tool")), std::string::npos);
    EXPECT_NE(outcome.out.find("removed " + outside + "/Far\n"), std::string::npos);
    EXPECT_NE(
        outcome.out.find(kept("Desktop/Helper", "a link to somewhere else, not the product's shortcut")),
        std::string::npos);
    EXPECT_NE(outcome.out.find(kept("Desktop/Plain", "not a symbolic link, so not the product's shortcut")),
              std::string::npos);
    EXPECT_NE(outcome.out.find(kept("Kept", "the entry it leads to stays")), std::string::npos);

    // A shortcut whose entry is already gone still goes, whether its folder is there or not; an
    // absent one is missing.
    const FileNode again =
        tree("<file fileName='Gone'><shortCut name='GoneLink'/></file>"
             "<directory fileName='Old'><file fileName='f'><shortCut name='OldLink'/></file>"
             "</directory><file fileName='X'><shortCut name='NoLink' dir='NoDir'/></file>");
    makeLink(target + "/Gone", target + "/GoneLink");
    makeLink("Old/./f", target + "/OldLink");
    const Outcome second = run(again);
    EXPECT_EQ(second.out, line("missing", "Gone") + line("removed", "GoneLink") + line("missing", "Old") +
                              line("missing", "Old/f") + line("removed", "OldLink") + line("missing", "X") +
                              line("missing", "NoDir/NoLink") +
                              "summary: 2 removed, 0 kept, 5 missing, 0 failed, 0 ignored\n");
}

// Directory entries go only when empty (a user's file keeps one); the dry run foresees the real run.
TEST_F(InstallRemoverTest, DirectoryEntriesGoOnlyWhenEmptyAndTheDryRunSaysSoChangingNothing)
{
    const FileNode root =
        tree("<directory fileName='Lib'><file fileName='a.so'/><file fileName='b.so'/>"
             "</directory><directory fileName='Data'><file fileName='d'/></directory>"
             "<file fileName='App.bundle'><shortCut name='App'/></file>"
             "<file fileName='gone'/><directory fileName='Empty'/><directory fileName='Outer'>"
             "<directory fileName='Inner'><file fileName='x'/></directory></directory>");
    writeFile(target + "/Lib/a.so", "a");
    writeFile(target + "/Data/d", "d");
    writeFile(target + "/Data/user", "the user's own file");
    makeDirectory(target + "/Empty");
    writeFile(target + "/Outer/Inner/x", "x");
    writeFile(target + "/App.bundle/Contents/x", "x");
    makeLink(target + "/App.bundle", target + "/App");
    const std::vector<std::string> before = listing(base);

    const Outcome outcome = run(root, true, true);
    EXPECT_EQ(
        outcome.out,
        line("would remove", "App.bundle") + line("would remove", "App") + line("would remove", "Empty") +
            line("would remove", "Outer/Inner/x") + line("would remove", "Outer/Inner") +
            line("would remove", "Outer") + line("would remove", "Data/d") +
            kept("Data", "holds 1 entry the product did not install") + line("missing", "gone") +
            line("would remove", "Lib/a.so") + line("missing", "Lib/b.so") + line("would remove", "Lib") +
            "summary: 9 would be removed, 1 kept, 2 missing, 0 would fail, 0 failed, 0 would be ignored\n");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(listing(base), before);

    // The real run does what the dry run said.
    const Outcome real = run(root, true, false);
    std::string expected = outcome.out;
    for (size_t at = expected.find("would remove"); at != std::string::npos;
         at = expected.find("would remove"))
        expected.replace(at, 12, "removed");
    expected.replace(expected.find("would be removed"), 16, "removed");
    expected.replace(expected.find("0 would fail, "), 14, "");
    expected.replace(expected.find("would be ignored"), 16, "ignored");
    EXPECT_EQ(real.out, expected);
    EXPECT_EQ(readFile(target + "/Data/user"), "the user's own file");
    EXPECT_FALSE(exists(target + "/Outer") || exists(target + "/Empty") || exists(target + "/Lib"));

    // A folder is empty when everything in it would be gone, whatever else its entry lists: a
    // refused name leaves nothing on disk, so the real run removes the folder, and the dry run
    // says so.
    writeFile(target + "/Plug/p", "p");
    const FileNode withRefusal = tree("<directory fileName='Plug'><file fileName='p'/><file fileName='..'/>"
                                      "</directory>");
    const std::string refusal = "refused ..: names a directory itself, not an entry\n";
    EXPECT_EQ(
        run(withRefusal, true, true).out,
        refusal + line("would remove", "Plug/p") + line("would remove", "Plug") +
            "summary: 2 would be removed, 0 kept, 0 missing, 0 would fail, 1 failed, 0 would be ignored\n");
    EXPECT_EQ(run(withRefusal).out, refusal + line("removed", "Plug/p") + line("removed", "Plug") +
                                        "summary: 2 removed, 0 kept, 0 missing, 1 failed, 0 ignored\n");
}

TEST_F(InstallRemoverTest, NeverFollowsALinkInPlaceOfAListedDirectory)
{
    writeFile(outside + "/Victim.vst/Contents/binary", "victim");
    writeFile(outside + "/a.txt", "a");
    makeLink(outside, target + "/Plug-Ins");
    const FileNode root = tree("<directory fileName='Plug-Ins'><file fileName='Victim.vst'/>"
                               "<file fileName='a.txt'/><file fileName='canary.txt'/></directory>");
    const std::vector<std::string> outsideBefore = listing(outside);

    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.out, "failed " + target +
                               "/Plug-Ins: a symbolic link in place of a directory, not followed\n" +
                               "summary: 0 removed, 0 kept, 0 missing, 1 failed, 0 ignored\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(listing(outside), outsideBefore);
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
    EXPECT_TRUE(exists(target + "/Plug-Ins"));

    // The same one level down, and for a shortcut folder.
    makeDirectory(target + "/Lib");
    makeLink(outside, target + "/Lib/Sub");
    makeLink(outside, target + "/Desk");
    const Outcome nested = run(tree("<directory fileName='Lib'><directory fileName='Sub'>"
                                    "<file fileName='canary.txt'/></directory></directory>"
                                    "<file fileName='f'><shortCut name='canary.txt' dir='Desk'/></file>"));
    EXPECT_EQ(nested.status, 1);
    EXPECT_EQ(listing(outside), outsideBefore);
}

// Names that are empty or leave their directory are refused where they are listed; a name holding
// a NUL is the part before it.
TEST_F(InstallRemoverTest, RefusesNamesThatAreEmptyOrLeaveTheirDirectory)
{
    // The target sits one level below base, so ".." would reach base and "../outside" the canary.
    writeFile(target + "/a/b", "nested");
    writeFile(target + "/ok", "ok");
    writeFile(target + "/Lib/ok", "ok");
    writeFile(target + "/cut", "c");
    const FileNode root =
        tree("<file fileName='..'/><file fileName='.'/><file fileName='../outside/canary.txt'/>"
             "<file fileName='a/b'/><file fileName='ok'><shortCut name='../outside/canary.txt'/></file>"
             "<file fileName='x'><shortCut name='s' dir='../outside'/></file><file fileName=''/><file/>"
             "<directory fileName='Lib'><directory fileName=''><file fileName='ok'/></directory>"
             "<file fileName='ok'/></directory><file fileName='cut&#0;/../../outside/canary.txt'/>");
    const Outcome outcome = run(root);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(readFile(outside + "/canary.txt"), "canary");
    EXPECT_EQ(readFile(target + "/a/b"), "nested");
    EXPECT_TRUE(exists(base + "/outside"));
    EXPECT_FALSE(exists(target + "/ok") || exists(target + "/Lib") || exists(target + "/cut"));
    // Each refusal where its entry is listed; refusals count as failures in the summary.
    const std::string leaves = ": names a directory itself, not an entry\n";
    const std::string separator = ": holds a path separator\n";
    EXPECT_EQ(outcome.out, "refused ../outside/canary.txt" + separator + line("removed", "Lib/ok") +
                               "refused " + target + "/Lib/: empty name\n" + line("removed", "Lib") +
                               "refused a/b" + separator + line("removed", "cut") + "refused .." + leaves +
                               line("removed", "ok") + "refused ../outside/canary.txt" + separator +
                               "refused ." + leaves + line("missing", "x") + "refused ../outside" + leaves +
                               "refused " + target + "/: empty name\n" +
                               "summary: 4 removed, 0 kept, 1 missing, 8 failed, 0 ignored\n");
}

// A listed bundle or directory that is a mount point is not entered (one inside a bundle: the walk's
// own test), so what it holds stays: a failure, not "kept".
TEST_F(InstallRemoverTest, DoesNotCrossIntoAnotherFileSystem)
{
    std::string reason;
    if (!mountTmpfs(target + "/Mounted.bundle", reason) || !mountTmpfs(target + "/Busy", reason))
        GTEST_SKIP() << reason;
    writeFile(target + "/Mounted.bundle/canary.txt", "mounted canary");
    writeFile(target + "/Busy/canary.txt", "busy canary");

    const Outcome outcome = run(tree("<file fileName='Mounted.bundle'/>"
                                     "<directory fileName='Busy'><file fileName='canary.txt'/></directory>"));
    EXPECT_EQ(outcome.out, "failed " + target + "/Mounted.bundle: on another mount, not entered\n" +
                               "failed " + target + "/Busy: on another mount, not entered\n" +
                               "summary: 0 removed, 0 kept, 0 missing, 2 failed, 0 ignored\n");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(readFile(target + "/Mounted.bundle/canary.txt"), "mounted canary");
    EXPECT_EQ(readFile(target + "/Busy/canary.txt"), "busy canary");
}

TEST_F(InstallRemoverTest, TargetMustBeAnAbsoluteDirectory)
{
    writeFile(target + "/f", "f");
    writeFile(base + "/plain", "p");
    const FileNode root = tree("<file fileName='f'/>");
    EXPECT_EQ(runAt("relative/target", root, true, false).status, 2);
    EXPECT_EQ(runAt(base + "/none", root, true, false).status, 2);
    EXPECT_EQ(runAt(base + "/plain", root, true, false).status, 2);
    EXPECT_EQ(runAt("", root, true, false).status, 2);
    EXPECT_TRUE(exists(target + "/f"));
    EXPECT_EQ(runAt(target + "///", root, true, false).out,
              line("removed", "f") + "summary: 1 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n");
}

TEST_F(InstallRemoverTest, BindMountsInABundleAreNotEntered)
{
    std::string reason;
    if (!enterPrivateMountNamespace(reason))
        GTEST_SKIP() << reason;
    writeFile(outside + "/Shared/data.txt", "shared");
    writeFile(target + "/keep.txt", "not listed");
    writeFile(target + "/Elsewhere.bundle/Contents/x", "x");
    writeFile(target + "/Mirror.bundle/Contents/x", "x");
    // A folder from elsewhere inside a bundle, the target itself deep inside one, and a bundle
    // that is itself a bind mount: all of the same file system as the target.
    if (!bindMount(outside + "/Shared", target + "/Elsewhere.bundle/Contents/Shared", reason) ||
        !bindMount(target, target + "/Mirror.bundle/a/b/Target", reason) ||
        !bindMount(outside + "/Shared", target + "/Bound.bundle", reason))
        GTEST_SKIP() << reason;
    const std::vector<std::string> outsideBefore = snapshot(outside);
    const std::string keptBefore = describe(target + "/keep.txt");
    const FileNode root = tree(
        "<file fileName='Elsewhere.bundle'/><file fileName='Mirror.bundle'/><file fileName='Bound.bundle'/>");

    for (const bool dryRun : {true, false})
    {
        const Outcome outcome = run(root, true, dryRun);
        const std::string failed = dryRun ? "would fail " : "failed ";
        EXPECT_EQ(
            outcome.out,
            failed + target + "/Elsewhere.bundle: Contents/Shared: on another mount, not entered\n" + failed +
                target + "/Mirror.bundle: a/b/Target: the target path itself, not entered\n" + failed +
                target + "/Bound.bundle: on another mount, not entered\n" +
                (dryRun ? "summary: 0 would be removed, 0 kept, 0 missing, 3 would fail, 0 failed, 0 would "
                          "be ignored\n"
                        : "summary: 0 removed, 0 kept, 0 missing, 3 failed, 0 ignored\n"));
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(snapshot(outside), outsideBefore);
        EXPECT_EQ(describe(target + "/keep.txt"), keptBefore);
        EXPECT_EQ(exists(target + "/Mirror.bundle/Contents/x"), dryRun);
    }
}

TEST_F(InstallRemoverTest, KeepsDirectoriesDirectlyUnderTheRoot)
{
    // "/" as the target, in a child whose root is a folder of the test: the real "/" is never at stake.
    const std::string top = base + "/root";
    makeDirectory(top + "/opt");
    writeFile(top + "/home/user/f", "f");
    const FileNode root = tree("<directory fileName='opt'/><directory fileName='home'>"
                               "<directory fileName='user'><file fileName='f'/></directory></directory>");
    const std::vector<std::string> before = snapshot(top);
    std::string skipReason;
    const std::string dryRun = runWithRootAt(top, root, true, skipReason);
    if (!skipReason.empty())
        GTEST_SKIP() << skipReason;
    const std::string system = ": a folder directly under /, part of the system\n";
    const std::string keptTops = "kept /home" + system + "kept /opt" + system;
    EXPECT_EQ(
        dryRun,
        "would remove /home/user/f\nwould remove /home/user\n" + keptTops +
            "summary: 2 would be removed, 2 kept, 0 missing, 0 would fail, 0 failed, 0 would be ignored\n");
    EXPECT_EQ(snapshot(top), before);

    EXPECT_EQ(runWithRootAt(top, root, false, skipReason),
              "removed /home/user/f\nremoved /home/user\n" + keptTops +
                  "summary: 2 removed, 2 kept, 0 missing, 0 failed, 0 ignored\n");
    EXPECT_TRUE(exists(top + "/opt"));
    EXPECT_TRUE(exists(top + "/home"));
    EXPECT_FALSE(exists(top + "/home/user"));
}

TEST_F(InstallRemoverTest, TwoRemovalsAtOnceBothSucceed)
{
    // Bundles, listed folders and files, enough of them that the two runs meet on the way.
    std::string entries;
    for (int bundle = 0; bundle < 4; ++bundle)
        entries += "<file fileName='B" + std::to_string(bundle) + ".bundle'/>";
    entries += "<directory fileName='Lib'>";
    for (int file = 0; file < 40; ++file)
        entries += "<file fileName='f" + std::to_string(file) + "'/>";
    entries += "<directory fileName='Empty'/></directory>";
    const FileNode root = tree(entries);

    for (int round = 0; round < 5; ++round)
    {
        for (int bundle = 0; bundle < 4; ++bundle)
            for (int folder = 0; folder < 40; ++folder)
                writeFile(target + "/B" + std::to_string(bundle) + ".bundle/C/" + std::to_string(folder % 5) +
                              "/" + std::to_string(folder) + "/f",
                          "f");
        for (int file = 0; file < 40; ++file)
            writeFile(target + "/Lib/f" + std::to_string(file), "f");
        makeDirectory(target + "/Lib/Empty");

        std::atomic<int> ready{0};
        Outcome outcomes[2];
        auto remove = [&](Outcome& outcome)
        {
            ++ready;
            while (ready.load() < 2)
                std::this_thread::yield();
            outcome = run(root, false);
        };
        std::thread first(remove, std::ref(outcomes[0]));
        std::thread second(remove, std::ref(outcomes[1]));
        first.join();
        second.join();
        for (const Outcome& outcome : outcomes)
        {
            EXPECT_EQ(outcome.status, 0) << "round " << round << ": " << outcome.errors;
            EXPECT_EQ(outcome.counts.failed, 0u);
        }
        EXPECT_TRUE(listing(target).empty());
    }
}

TEST_F(InstallRemoverTest, TheEntryHoldingTheDefinitionGoesLastAndOnlyWhenNothingElseFailed)
{
    writeFile(target + "/Product/Uninstall.app/Contents/MacOS/sku.xml", "<product/>");
    writeFile(target + "/Product/a", "a");
    // Through a link and "..", as a command line may give it.
    makeLink(target + "/Product", base + "/ProductLink");
    definitionPath = base + "/ProductLink/Uninstall.app/Contents/../Contents/MacOS/sku.xml";
    // The longer name comes first in the tree's order; the one holding the definition goes last.
    const std::string product = "<directory fileName='Product'><file fileName='Uninstall.app'/>"
                                "<file fileName='a'/></directory>";

    const Outcome failed = run(tree(product + "<file fileName='..'/>"));
    EXPECT_EQ(failed.out, "refused ..: names a directory itself, not an entry\n" +
                              line("removed", "Product/a") +
                              kept("Product/Uninstall.app", "kept so that the uninstall can be run again") +
                              kept("Product", "holds listed entries that stay") +
                              "summary: 1 removed, 2 kept, 0 missing, 1 failed, 0 ignored\n");
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(exists(target + "/Product/Uninstall.app/Contents/MacOS/sku.xml"));

    writeFile(target + "/Product/a", "a");
    const Outcome again = run(tree(product));
    EXPECT_EQ(again.out, line("removed", "Product/a") + line("removed", "Product/Uninstall.app") +
                             line("removed", "Product") +
                             "summary: 3 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n");
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(listing(target).empty());
}

TEST_F(InstallRemoverTest, ADeepDefinitionNeedsNoDeepStack)
{
    // 256 levels: product, installFiles, 253 directories and a file; removed on a 64 KiB stack.
    std::string entries = "<file fileName='f'/>";
    std::string bottom = target;
    for (int level = 0; level < 253; ++level)
        entries = "<directory fileName='d'>" + entries + "</directory>", bottom += "/d";
    writeFile(bottom + "/f", "f");
    const FileNode root = tree(entries);
    Outcome outcome{};
    std::function<void()> removal = [&] { outcome = run(root, false); };
    pthread_attr_t small;
    pthread_t thread;
    ASSERT_EQ(pthread_attr_init(&small) | pthread_attr_setstacksize(&small, 64 * 1024), 0);
    const auto work = [](void* task) -> void*
    { return (*static_cast<std::function<void()>*>(task))(), nullptr; };
    ASSERT_EQ(pthread_create(&thread, &small, work, &removal) | pthread_join(thread, nullptr), 0);
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(outcome.counts.removed, 254u);
    EXPECT_TRUE(listing(target).empty());
}

// How many times the walk may ask before the stop is there.
static int checksBeforeStop = 0;
static bool stopAfterChecks()
{
    return checksBeforeStop-- <= 0;
}

TEST_F(InstallRemoverTest, AStopFinishesTheEntryUnderWayAndKeepsEverythingNotReached)
{
    writeFile(target + "/Product/Uninstall.app/Contents/MacOS/sku.xml", "<product/>");
    for (const char* name : {"Sub/x", "ccc", "bb", "a"})
        writeFile(target + "/Product/" + name, name);
    writeFile(target + "/Links/placeholder", "");
    makeLink("../Product/a", target + "/Links/a");
    definitionPath = target + "/Product/Uninstall.app/Contents/MacOS/sku.xml";
    const FileNode root = tree("<directory fileName='Product'><file fileName='Uninstall.app'/>"
                               "<directory fileName='Sub'><file fileName='x'/><file fileName='y'/></directory>"
                               "<file fileName='ccc'/><file fileName='bb'/>"
                               "<file fileName='a'><shortCut name='a' dir='Links'/></file></directory>");

    // Product, Sub, Sub/x, Sub/y and ccc are reached; the stop is there when bb's turn comes.
    checksBeforeStop = 5;
    const Outcome stopped = run(root, true, false, [](InstallRemover& remover) { remover.SetStopCheck(stopAfterChecks); });
    EXPECT_EQ(stopped.status, 4);

    const std::string cancelled = "the removal was cancelled";
    EXPECT_EQ(stopped.out, line("removed", "Product/Sub/x") + line("missing", "Product/Sub/y") +
                              line("removed", "Product/Sub") + line("removed", "Product/ccc") +
                              kept("Product/bb", cancelled) + kept("Product/a", cancelled) +
                              kept("Links/a", "the entry it leads to stays") +
                              kept("Product/Uninstall.app", "kept so that the uninstall can be run again") +
                              kept("Product", cancelled) +
                              "summary: 3 removed, 5 kept, 1 missing, 0 failed, 0 ignored\n");
    EXPECT_EQ(stopped.errors, "");
    // What the report says stays is what is there.
    EXPECT_EQ(listing(target),
              (std::vector<std::string>{target + "/Links", target + "/Links/a@", target + "/Links/placeholder",
                                        target + "/Product", target + "/Product/Uninstall.app",
                                        target + "/Product/Uninstall.app/Contents",
                                        target + "/Product/Uninstall.app/Contents/MacOS",
                                        target + "/Product/Uninstall.app/Contents/MacOS/sku.xml",
                                        target + "/Product/a", target + "/Product/bb"}));

    // Run again without a stop, it finishes the job.
    const Outcome again = run(root);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(listing(target), (std::vector<std::string>{target + "/Links", target + "/Links/placeholder"}));
}

TEST_F(InstallRemoverTest, ABundleBeingRemovedSaysHowFarItIsInItsVerboseLinesAlone)
{
    for (int file = 0; file < 200; ++file)
        writeFile(target + "/Big.bundle/" + std::to_string(file), "");
    const FileNode root = tree("<file fileName='Big.bundle'/>");
    for (const bool verbose : {true, false})
    {
        const Outcome outcome = run(root, verbose, false, [](InstallRemover& remover)
                                    { remover.SetProgressInterval(std::chrono::milliseconds(0)); });
        EXPECT_EQ(outcome.status, 0);
        const std::string removing = "removing " + target + "/Big.bundle: ";
        EXPECT_EQ(outcome.out, verbose ? removing + "64 items removed so far\n" + removing +
                                            "128 items removed so far\n" + removing +
                                            "192 items removed so far\n" + line("removed", "Big.bundle") +
                                            "summary: 1 removed, 0 kept, 0 missing, 0 failed, 0 ignored\n"
                                      : "");
        EXPECT_FALSE(exists(target + "/Big.bundle"));
        writeFile(target + "/Big.bundle/0", "");
    }
}
