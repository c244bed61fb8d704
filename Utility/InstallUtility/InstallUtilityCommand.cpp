#include "InstallUtilityCommand.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ElevatedCaller.h"
#include "FileDescriptor.h"
#include "InstallRemover.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "SKUDefinition.h"
#include "XMLReading.h"

const char InstallUtilityCommand::usage[] =
    "usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n]\n"
    "       InstallUtility --help\n"
    "Removes, under the folder that TARGETFILE names (<targetPath path=\"/abs/dir\"/>), what the\n"
    "product definition DEFINITION lists in its installFiles.\n"
    "  -v  print one line per entry, then a summary\n"
    "  -n  change nothing; print what would be removed\n"
    "Exit status: 0 done, 1 an entry failed or was refused, 2 a bad command line or an unreadable\n"
    "definition or target file (nothing touched).\n";

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
        fprintf(errors, "target path is not absolute: %s\n", shown(targetPath).ConstData());
        return -1;
    }
    // The target path itself may pass through links (it is the configured place).
    const int fd = open(targetPath.ConstData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &status) != 0)
    {
        fprintf(errors, "target path is not a directory: %s: %s\n", shown(targetPath).ConstData(),
                strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

// Takes the target folder's exclusive lock, waiting while another run holds it, so that runs on
// one target take turns and a later one finds what an earlier one left. A file system without
// locks does not stop the removal: something already gone still counts as gone.
bool lockTarget(int fd, const TqString& targetPath, FILE* errors)
{
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR)
        ;
    if (locked == 0 || errno == ENOLCK || errno == EOPNOTSUPP)
        return true;
    fprintf(errors, "cannot lock the target folder %s: %s\n", shown(targetPath).ConstData(), strerror(errno));
    return false;
}

// Opens the target folder, lets an elevated caller on only as far as it may, waits for the
// folder's lock and removes what installRoot lists.
int removeUnderTarget(const InstallUtilityCommand& command, const TqString& targetPath,
                      const FileNode& installRoot, FILE* out, FILE* errors, void (*beforeRemoval)())
{
    struct stat targetStatus;
    const FileDescriptor target(openTarget(targetPath, targetStatus, errors));
    if (!target.IsOpen())
        return 2;
    // Checked before waiting for the lock: a refused run must not queue behind others.
    const TqString refusal = ElevatedCaller::Current().Refusal(command.definitionPath, command.targetFilePath,
                                                               targetPath, targetStatus.st_uid);
    if (refusal.IsSet())
    {
        fprintf(errors, "%s\n", refusal.ConstData());
        return 2;
    }
    if (!lockTarget(target.Get(), targetPath, errors))
        return 2;
    if (beforeRemoval != nullptr)
        beforeRemoval();
    try
    {
        // A dry run exists to show what would go, so it always lists the entries.
        InstallRemover remover(targetPath, command.verbose || command.dryRun, command.dryRun, out, errors);
        remover.SetTargetFolder(target.Get());
        remover.SetDefinitionPath(command.definitionPath);
        return remover.Run(installRoot);
    }
    catch (const std::bad_alloc&)
    {
        fflush(out);
        fprintf(errors, "out of memory while removing; running the removal again finishes it\n");
        return 1;
    }
}

// Reads the target file and the definition; false, with the line written, when either cannot be read.
bool readInputs(const InstallUtilityCommand& command, TqString& targetPath, SKUDefinition& definition, FILE* errors)
{
    // A definition too large for the memory at hand is unreadable like any other; nothing has
    // been touched yet.
    const char* reading = "the target path from";
    const TqString* readingPath = &command.targetFilePath;
    try
    {
        if (!XMLReading::ReadTargetFile(command.targetFilePath, targetPath))
        {
            fprintf(errors, "cannot read the target path from %s\n", shown(command.targetFilePath).ConstData());
            return false;
        }
        reading = "the product definition";
        readingPath = &command.definitionPath;
        // Unlike SKUDefinition::fromFile, which reads whatever it can, the tool must tell an
        // unreadable definition from one that lists nothing: it then removes nothing and says so.
        if (!XMLReading::ReadDefinitionFile(command.definitionPath, definition))
        {
            fprintf(errors, "cannot read the product definition %s\n", shown(command.definitionPath).ConstData());
            return false;
        }
    }
    catch (const std::bad_alloc&)
    {
        fprintf(errors, "out of memory while reading %s %s\n", reading, shown(*readingPath).ConstData());
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
                               void (*beforeRemoval)())
{
    if (argc == 2 && strcmp(argv[1], "--help") == 0)
    {
        fputs(usage, out);
        return 0;
    }
    InstallUtilityCommand command;
    if (!command.Parse(argc, argv))
    {
        fputs(usage, errors);
        return 2;
    }
    TqString targetPath;
    SKUDefinition definition;
    if (!readInputs(command, targetPath, definition, errors))
        return 2;
    return removeUnderTarget(command, PathText::Normalized(targetPath), definition.installRoot, out, errors,
                             beforeRemoval);
}
