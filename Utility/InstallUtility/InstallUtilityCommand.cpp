#include "InstallUtilityCommand.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "InstallRemover.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "RemovalLock.h"
#include "RemovalRecord.h"
#include "RemovalRights.h"
#include "SKUDefinition.h"
#include "XMLReading.h"

const char InstallUtilityCommand::usage[] =
    "usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n]\n"
    "       InstallUtility --help\n"
    "Removes, under the folder that TARGETFILE names (<targetPath path=\"/abs/dir\"/>), what the\n"
    "product definition DEFINITION lists in its installFiles.\n"
    "  -v  print one line per entry, then a summary\n"
    "  -n  change nothing; print what would be removed and what would fail\n"
    "It removes with the rights of whoever controls it, DEFINITION and TARGETFILE (and every folder\n"
    "above them): root, or the one user who owns some of them.\n"
    "Exit status: 0 done; 1 an entry failed, would fail or was refused, or the report could not be\n"
    "written; 2 a bad command line, an unreadable definition or target file, inputs controlled by\n"
    "two users or writable by others, or another removal of the target still running after a\n"
    "minute (nothing touched); 4 cancelled by a signal, or by the line \"stop\" on standard input\n"
    "when that is a pipe, before anything was removed.\n";

namespace
{

TqString shown(const TqString& text)
{
    return EscapeLineText(text);
}

// Opens the target folder; -1 with the error line written when it cannot.
int openTarget(const TqString& targetPath, struct stat& status, FILE* errors)
{
    if (targetPath.IsEmpty() || targetPath[0] != '/')
    {
        (void)fprintf(errors, "target path is not absolute: %s\n", shown(targetPath).ConstData());
        return -1;
    }
    // The target path itself may pass through links (it is the configured place).
    const int fd = open(targetPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &status) != 0)
    {
        (void)fprintf(errors, "target path is not a directory: %s: %s\n", shown(targetPath).ConstData(),
                      strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Opens the target folder, waits for its turn and removes what installRoot lists.
int removeUnderTarget(const InstallUtilityCommand& command, const TqString& targetPath,
                      const FileNode& installRoot, FILE* out, FILE* errors,
                      const InstallUtilityCommand::Hooks& hooks, RemovalRecord& record)
{
    struct stat targetStatus;
    const FileDescriptor target(openTarget(targetPath, targetStatus, errors));
    if (!target.IsOpen())
        return 2;
    RemovalLock lock;
    const Status turn = lock.Take(targetStatus, targetPath, hooks.lockWaitSeconds, errors, hooks.stopAsked);
    if (turn.Errno() != ECANCELED && !turn.IsDone())
    {
        (void)fprintf(errors, "%s\n", EscapeLineText(turn.Text()).ConstData());
        return 2;
    }
    if (hooks.beforeRemoval != nullptr)
        hooks.beforeRemoval();
    // Asked before the signals were set aside: nothing has been removed, and nothing will be.
    if (turn.Errno() == ECANCELED || (hooks.stopAsked != nullptr && hooks.stopAsked()))
    {
        (void)fprintf(errors, "cancelled before anything was removed\n");
        return 4;
    }
    try
    {
        // A dry run exists to show what would go, so it always lists the entries.
        InstallRemover remover(targetPath, command.verbose || command.dryRun, command.dryRun, out, errors);
        remover.SetTargetFolder(target.Get());
        remover.SetDefinitionPath(command.definitionPath);
        const int status = remover.Run(installRoot);
        record.TakeCounts(remover.GetCounts());
        return status;
    }
    catch (const std::bad_alloc&)
    {
        (void)fflush(out);
        (void)fprintf(errors, "out of memory while removing; running the removal again finishes it\n");
        return 1;
    }
}

// Takes on the rights of whoever controls the tool and both files; false with the refusal written.
bool takeRights(const InstallUtilityCommand& command, FILE* errors)
{
    uid_t controller = 0;
    const TqString tool = RemovalRights::ToolPath();
    Status status = RemovalRights::InputsController(
        {{tool, TqString("cannot find the tool's own program ") + shown(tool)},
         {command.targetFilePath,
          TqString("cannot read the target path from ") + shown(command.targetFilePath)},
         {command.definitionPath,
          TqString("cannot read the product definition ") + shown(command.definitionPath)}},
        controller);
    if (status.IsDone())
        status = RemovalRights::ActFor(controller);
    if (status.IsDone())
        return true;
    (void)fprintf(errors, "%s\n", status.Message().ConstData());
    return false;
}

// Reads the target file and the definition; false, with the line written, when either cannot be read.
bool readInputs(const InstallUtilityCommand& command, TqString& targetPath, SKUDefinition& definition,
                FILE* errors)
{
    // A definition too large for the memory at hand is unreadable like any other; nothing has
    // been touched yet.
    const char* reading = "the target path from";
    const TqString* readingPath = &command.targetFilePath;
    try
    {
        if (!XMLReading::ReadTargetFile(command.targetFilePath, targetPath))
        {
            (void)fprintf(errors, "cannot read the target path from %s\n",
                          shown(command.targetFilePath).ConstData());
            return false;
        }
        reading = "the product definition";
        readingPath = &command.definitionPath;
        // Unlike SKUDefinition::fromFile, which reads whatever it can, the tool must tell an
        // unreadable definition from one that lists nothing: it then removes nothing and says so.
        if (!XMLReading::ReadDefinitionFile(command.definitionPath, definition))
        {
            (void)fprintf(errors, "cannot read the product definition %s\n",
                          shown(command.definitionPath).ConstData());
            return false;
        }
    }
    catch (const std::bad_alloc&)
    {
        (void)fprintf(errors, "out of memory while reading %s %s\n", reading,
                      shown(*readingPath).ConstData());
        return false;
    }
    return true;
}

} // namespace

bool InstallUtilityCommand::Parse(int argc, const char* const argv[])
{
    if (argc < 4 || strcmp(argv[1], "-uninstall") != 0)
        return false;
    definitionPath = TqString(argv[2]);
    targetFilePath = TqString(argv[3]);
    if (definitionPath.IsEmpty() || targetFilePath.IsEmpty())
        return false;
    for (int i = 4; i < argc; ++i)
    {
        if (strcmp(argv[i], "-v") == 0)
            verbose = true;
        else if (strcmp(argv[i], "-n") == 0)
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
        (void)fputs(usage, errors);
        return 2;
    }
    // One record in the system log of every run that names what to remove, whatever its end.
    RemovalRecord record(command.dryRun, errors);
    errors = record.Errors();
    TqString targetPath;
    SKUDefinition definition;
    int status = 2;
    // Before anything is read: what the files say is decided by whoever controls them.
    if (takeRights(command, errors) && readInputs(command, targetPath, definition, errors))
        status = removeUnderTarget(command, PathText::Normalized(targetPath), definition.installRoot, out,
                                   errors, hooks, record);
    record.Write(definition.skuInfo.name, targetPath, status);
    return status;
}
