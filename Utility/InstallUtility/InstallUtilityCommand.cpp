#include "InstallUtilityCommand.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "DryRunRights.h"
#include "FileDescriptor.h"
#include "InstallRemover.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "RemovalJson.h"
#include "ProtectedPath.h"
#include "RemovalLock.h"
#include "RemovalRecord.h"
#include "RemovalRights.h"
#include "SKUDefinition.h"
#include "XMLReading.h"

const char InstallUtilityCommand::usage[] =
    "usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n] [-json] [-sha256 DIGEST]\n"
    "       InstallUtility -check DEFINITION TARGETFILE [-json]\n"
    "       InstallUtility --help\n"
    "Removes, under the folder that TARGETFILE names (<targetPath path=\"/abs/dir\"/>), what the\n"
    "product definition DEFINITION lists in its installFiles.\n"
    "  -v  print one line per entry, then a summary\n"
    "  -n  change nothing; print what would be removed and what would fail\n"
    "  -json  write one JSON object per entry on standard output, then one closing object\n"
    "  -sha256 DIGEST  remove only when DEFINITION's bytes have this SHA-256 (64 hex digits)\n"
    "-check says, changing nothing, whether the product is installed in the target: exit status 0\n"
    "installed, 5 partly installed, 3 not installed, 2 the files cannot be read.\n"
    "It removes with the rights of whoever controls it, DEFINITION and TARGETFILE (and every folder\n"
    "above them): root, or the one user who owns some of them.\n"
    "Exit status: 0 done; 1 an entry failed, would fail or was refused, or the report could not be\n"
    "written; 2 a bad command line, an unreadable definition or target file, a definition that lists\n"
    "nothing or spells a name of installFiles in another letter case or a flag other than 0 or 1,\n"
    "inputs controlled by two users or writable by others, or another removal of the target still\n"
    "running after a minute (nothing touched); 3 nothing that the definition lists was found under\n"
    "the target (nothing touched); 4 cancelled by a signal, or by the line \"stop\" on standard input\n"
    "when that is a pipe: before anything was removed, or after the entry under way, what was not\n"
    "reached kept (\"kept PATH: the removal was cancelled\").\n";

namespace
{

TqString shown(const TqString& text)
{
    return EscapeLineText(text);
}

// Says that nothing the definition lists is under the target, with the tool's status for it.
int nothingFound(const SKUDefinition& definition, const TqString& targetPath, FILE* errors)
{
    const TqString& name = definition.skuInfo.name;
    (void)fprintf(errors, "nothing of %s was found in %s\n", name.IsSet() ? shown(name).ConstData() : "the product",
                  shown(targetPath).ConstData());
    return 3;
}

// Opens the target folder and reads its status, or says why not with the error line written;
// not found (and nothing written) when it is not there at all: then nothing of the product is
// there either.
Result<FileDescriptor> openTarget(const TqString& targetPath, struct stat& status, FILE* errors)
{
    if (targetPath.IsEmpty() || targetPath[0] != '/')
    {
        (void)fprintf(errors, "target path is not absolute: %s\n", shown(targetPath).ConstData());
        return Status::Failed(0, "target path is not absolute");
    }
    // The target path itself may pass through links (it is the configured place).
    FileDescriptor fd(open(targetPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Status opened = fd.IsOpen() ? Status::Done() : Status::FromErrno(targetPath);
    if (opened.IsNotFound())
        return opened;
    if (opened.IsDone() && fstat(fd.Get(), &status) != 0)
        opened = Status::FromErrno(targetPath);
    if (!opened.IsDone())
    {
        (void)fprintf(errors, "target path is not a directory: %s: %s\n", shown(targetPath).ConstData(),
                      strerror(opened.Errno()));
        return opened;
    }
    return fd;
}

// A dry run by a user that root's folders would stop says so once, first.
void sayIfRightsAreNeeded(int target, const TqString& targetPath, const SKUDefinition& definition, FILE* errors)
{
    const TqString closed = RootFolderNeedingAdministrator(target, targetPath, definition.installRoot);
    if (closed.IsSet())
        (void)fprintf(errors,
                      "the removal needs administrator rights: root's folder %s is closed to uid %lu, so "
                      "what follows is what a removal with this user's rights would meet\n",
                      shown(closed).ConstData(), static_cast<unsigned long>(geteuid()));
    (void)fflush(errors);
}

// Removes (or, in a dry run, foresees removing) what the definition lists in the open target.
int removeEntries(const InstallUtilityCommand& command, int target, const TqString& targetPath,
                  const SKUDefinition& definition, const ProtectedPath::OpenedPath& definitionFile, FILE* out,
                  FILE* errors, const InstallUtilityCommand::Hooks& hooks,
                  std::optional<RemovalReport::Counts>& counts)
{
    // A dry run exists to show what would go, so it always lists the entries.
    InstallRemover remover(targetPath, command.verbose || command.dryRun, command.dryRun, out, errors);
    if (command.json)
        remover.SetReportForm(RemovalReport::Form::Json);
    remover.SetTargetFolder(target);
    remover.SetDefinition(definitionFile.item.Get(), definitionFile.folder.Get());
    remover.SetStopCheck(hooks.stopAsked);
    const int status = remover.Run(definition.installRoot);
    counts = remover.GetCounts();
    // Every entry missing is not a removal done: the product is elsewhere, or was never here.
    if (status != 0 || !remover.FoundNothing())
        return status;
    return nothingFound(definition, targetPath, errors);
}

// Opens the target folder, waits for its turn and removes what the definition lists.
int removeUnderTarget(const InstallUtilityCommand& command, const TqString& targetPath,
                      const SKUDefinition& definition, const ProtectedPath::OpenedPath& definitionFile,
                      FILE* out, FILE* errors, const InstallUtilityCommand::Hooks& hooks,
                      std::optional<RemovalReport::Counts>& counts)
{
    struct stat targetStatus;
    const Result<FileDescriptor> opened = openTarget(targetPath, targetStatus, errors);
    if (opened.GetStatus().IsNotFound())
        return nothingFound(definition, targetPath, errors);
    if (!opened.IsDone())
        return 2;
    const FileDescriptor& target = opened.Value();
    RemovalLock lock;
    const Status turn = lock.Take(targetStatus, targetPath, hooks.lockWaitSeconds, errors, hooks.stopAsked);
    if (!turn.IsCancelled() && !turn.IsDone())
    {
        (void)fprintf(errors, "%s\n", EscapeLineText(turn.Text()).ConstData());
        return 2;
    }
    if (hooks.beforeRemoval != nullptr)
        hooks.beforeRemoval();
    // Asked before the signals were set aside: nothing has been removed, and nothing will be.
    if (turn.IsCancelled() || (hooks.stopAsked != nullptr && hooks.stopAsked()))
    {
        (void)fprintf(errors, "cancelled before anything was removed\n");
        return 4;
    }
    if (command.dryRun)
        sayIfRightsAreNeeded(target.Get(), targetPath, definition, errors);
    try
    {
        return removeEntries(command, target.Get(), targetPath, definition, definitionFile, out, errors, hooks,
                             counts);
    }
    catch (const std::bad_alloc&)
    {
        (void)fflush(out);
        (void)fprintf(errors, "out of memory while removing; running the removal again finishes it\n");
        return 1;
    }
}

// The two data files as the trust walk opened them.
struct OpenedInputs
{
    ProtectedPath::OpenedPath targetFile;
    ProtectedPath::OpenedPath definition;
};

// Opens the tool and both files by the trust walk and takes on the rights of whoever controls
// them; false with the refusal written.
bool takeRights(const InstallUtilityCommand& command, OpenedInputs& inputs, FILE* errors)
{
    uid_t controller = 0;
    ProtectedPath::OpenedPath tool;
    std::vector<ProtectedPath::OpenedPath> opened;
    Status status = RemovalRights::OpenTool(tool);
    if (status.IsDone())
        status = RemovalRights::OpenInputs(
            {{command.targetFilePath,
              TqString("cannot read the target path from ") + shown(command.targetFilePath)},
             {command.definitionPath,
              TqString("cannot read the product definition ") + shown(command.definitionPath)}},
            tool, opened, controller);
    if (status.IsDone())
        status = RemovalRights::ActFor(controller);
    if (!status.IsDone())
    {
        (void)fprintf(errors, "%s\n", status.Message().ConstData());
        return false;
    }
    inputs.targetFile = std::move(opened[0]);
    inputs.definition = std::move(opened[1]);
    return true;
}

// The strict read's findings: false with the one refusal line written; otherwise each name that
// is passed over is said, and the run goes on.
bool acceptFindings(const InstallFilesFindings& findings, FILE* errors)
{
    if (findings.refusal.IsSet())
    {
        (void)fprintf(errors, "refusing to remove: %s\n", findings.refusal.ConstData());
        return false;
    }
    for (const TqString& line : findings.ignored)
        (void)fprintf(errors, "%s\n", line.ConstData());
    return true;
}

// Reads the target file and the definition through what the walk opened, with the rights now
// held; false, with the line written, when either cannot be read.
bool readInputs(const InstallUtilityCommand& command, const OpenedInputs& inputs, TqString& targetPath,
                SKUDefinition& definition, FILE* errors)
{
    // A definition too large for the memory at hand is unreadable like any other; nothing has
    // been touched yet.
    const char* reading = "the target path from";
    const TqString* readingPath = &command.targetFilePath;
    try
    {
        const Result<FileDescriptor> targetFile = ProtectedPath::OpenForReading(inputs.targetFile);
        if (!targetFile.IsDone() || !XMLReading::ReadTargetFile(targetFile.Value().Get(), targetPath))
        {
            (void)fprintf(errors, "cannot read the target path from %s\n",
                          shown(command.targetFilePath).ConstData());
            return false;
        }
        reading = "the product definition";
        readingPath = &command.definitionPath;
        // Unlike SKUDefinition::fromFile, which reads whatever it can, the tool must tell an
        // unreadable definition from one that lists nothing: it then removes nothing and says so.
        InstallFilesFindings findings;
        std::string digest;
        const Result<FileDescriptor> definitionFile = ProtectedPath::OpenForReading(inputs.definition);
        if (!definitionFile.IsDone() ||
            !XMLReading::ReadDefinitionFile(definitionFile.Value().Get(), definition, findings, &digest))
        {
            (void)fprintf(errors, "cannot read the product definition %s\n",
                          shown(command.definitionPath).ConstData());
            return false;
        }
        // The definition a person confirmed, and no other, decides what goes.
        if (!command.expectedDigest.empty() && digest != command.expectedDigest)
        {
            (void)fprintf(errors,
                          "refusing to remove: the product definition %s is not the one that was confirmed "
                          "(it changed after the confirmation)\n",
                          shown(command.definitionPath).ConstData());
            return false;
        }
        if (!acceptFindings(findings, errors))
            return false;
    }
    catch (const std::bad_alloc&)
    {
        (void)fprintf(errors, "out of memory while reading %s %s\n", reading,
                      shown(*readingPath).ConstData());
        return false;
    }
    return true;
}

// The product's identity and the target, as every JSON answer gives them.
RemovalJson::Closing closingOf(const SKUDefinition& definition, const TqString& targetPath)
{
    RemovalJson::Closing closing;
    closing.productName = definition.skuInfo.name;
    closing.productId = definition.skuInfo.id;
    closing.productBuild = definition.skuInfo.build;
    closing.target = targetPath;
    return closing;
}

void writeClosingObject(const InstallUtilityCommand& command, const SKUDefinition& definition,
                        const TqString& targetPath, const std::optional<RemovalReport::Counts>& counts,
                        int status, const std::vector<std::string>& messages, FILE* out)
{
    RemovalJson::Closing closing = closingOf(definition, targetPath);
    closing.dryRun = command.dryRun;
    closing.hasSummary = counts.has_value();
    if (counts)
        closing.counts = *counts;
    closing.status = status;
    closing.messages = messages;
    (void)fprintf(out, "%s\n", RemovalJson::ClosingObject(closing).c_str());
    (void)fflush(out);
}

// Says whether the product is installed in the target: how many of the listed entries that an
// uninstall would remove are there, found as a dry run finds them, changing nothing. What the
// product keeps (marked to keep, or a folder holding what others put there) stays after an
// uninstall, so it counts neither way. Its status is the answer's.
int checkUnderTarget(const InstallUtilityCommand& command, const TqString& targetPath,
                     const SKUDefinition& definition, FILE* out, FILE* errors)
{
    struct stat targetStatus;
    const Result<FileDescriptor> target = openTarget(targetPath, targetStatus, errors);
    if (!target.IsDone() && !target.GetStatus().IsNotFound())
        return 2;
    InstallRemover remover(targetPath, false, true, out, errors);
    remover.SetReportForm(RemovalReport::Form::CountsOnly);
    // A target folder that is not there holds nothing of the product: nothing is counted.
    if (target.IsDone())
    {
        remover.SetTargetFolder(target.Value().Get());
        (void)remover.Run(definition.installRoot);
    }
    const RemovalReport::Counts& counts = remover.GetCounts();
    const unsigned long present = counts.removed + counts.wouldFail + counts.ignored;
    const unsigned long listed = present + counts.missing;
    const bool all = present > 0 && counts.missing == 0;
    const int status = all            ? InstallUtilityCommand::installed
                       : present == 0 ? InstallUtilityCommand::notInstalled
                                      : InstallUtilityCommand::partlyInstalled;
    const char* answer = all ? "installed" : present == 0 ? "not installed" : "partly installed";
    if (command.json)
    {
        RemovalJson::Closing closing = closingOf(definition, targetPath);
        closing.status = status;
        (void)fprintf(out, "%s\n", RemovalJson::CheckObject(closing, answer, present, listed).c_str());
    }
    else
        (void)fprintf(out, "%s: %lu of %lu listed entries of %s are in %s\n", answer, present, listed,
                      shown(definition.skuInfo.name).ConstData(), shown(targetPath).ConstData());
    return fflush(out) == 0 && ferror(out) == 0 ? status : 1;
}

// The definition of the run that ends the process (InstallUtilityHooks::endsProcess). Freeing a
// large product's entries one by one is a twentieth of a removal's own work and a tenth of a dry
// run's, all of it just before the system takes the whole memory back at once.
SKUDefinition* definitionLeftToExit = nullptr;

} // namespace

bool InstallUtilityCommand::Parse(int argc, const char* const argv[])
{
    if (argc < 4 || (strcmp(argv[1], "-uninstall") != 0 && strcmp(argv[1], "-check") != 0))
        return false;
    check = strcmp(argv[1], "-check") == 0;
    definitionPath = TqString(argv[2]);
    targetFilePath = TqString(argv[3]);
    if (definitionPath.IsEmpty() || targetFilePath.IsEmpty())
        return false;
    for (int i = 4; i < argc; ++i)
    {
        if (strcmp(argv[i], "-json") == 0)
            json = true;
        else if (strcmp(argv[i], "-sha256") == 0 && i + 1 < argc && strlen(argv[i + 1]) == 64)
            expectedDigest = argv[++i];
        else if (strcmp(argv[i], "-v") == 0 && !check)
            verbose = true;
        else if (strcmp(argv[i], "-n") == 0 && !check)
            dryRun = true;
        else
            return false;
    }
    return true;
}

int InstallUtilityCommand::Run(int argc, const char* const argv[], FILE* out, FILE* errors,
                               const Hooks& hooks)
{
    if (argc == 2 && strcmp(argv[1], "--help") == 0)
    {
        // Like the report, a usage that could not be written is said by the status.
        return fputs(usage, out) >= 0 && fflush(out) == 0 ? 0 : 1;
    }
    InstallUtilityCommand command;
    if (!command.Parse(argc, argv))
    {
        // A refusal like any other leaves its record.
        RemovalRecord record(false, errors);
        (void)fputs(usage, errors);
        record.Refused("a command line it does not know");
        record.Write(RecordedProduct(), TqString(), 2);
        return 2;
    }
    // One record in the system log of every run that names what to remove, whatever its end.
    RemovalRecord record(command.dryRun, errors);
    errors = record.Errors();
    TqString targetPath;
    std::unique_ptr<SKUDefinition> owned = std::make_unique<SKUDefinition>();
    SKUDefinition& definition = *owned;
    if (hooks.endsProcess)
        definitionLeftToExit = owned.release();
    int status = 2;
    std::optional<RemovalReport::Counts> counts;
    // Before anything is read: what the files say is decided by whoever controls them.
    OpenedInputs inputs;
    const bool read = takeRights(command, inputs, errors) && readInputs(command, inputs, targetPath, definition, errors);
    if (command.check)
        return read ? checkUnderTarget(command, PathText::Normalized(targetPath), definition, out, errors) : 2;
    if (read)
        status = removeUnderTarget(command, PathText::Normalized(targetPath), definition, inputs.definition, out,
                                   errors, hooks, counts);
    if (counts)
        record.TakeCounts(*counts);
    record.Write({definition.skuInfo.name, definition.skuInfo.id, definition.skuInfo.build}, targetPath,
                 status);
    if (command.json)
        writeClosingObject(command, definition, targetPath, counts, status, record.Messages(), out);
    return status;
}
