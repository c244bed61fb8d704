#include "InstallUtilityCommand.h"

#include <cstring>

#include "InstallRemover.h"
#include "SKUDefinition.h"
#include "TargetPathFile.h"
#include "UnnamedEntries.h"
#include "XMLDocumentFile.h"
#include "XMLParser.h"

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

// Unlike SKUDefinition::fromFile, which reads whatever it can, the tool must tell an unreadable
// definition from one that lists nothing: it then removes nothing and says so.
static bool readDefinition(const TqString& path, SKUDefinition& definition)
{
    TiXmlDocument document;
    if (XMLDocumentFile::LoadRoot(path, document, "product") == nullptr)
        return false;
    definition.parseInner(document);
    UnnamedEntries::Mark(document, definition.installRoot);
    return true;
}

int InstallUtilityCommand::Run(int argc, const char* const argv[], FILE* out, FILE* errors)
{
    InstallUtilityCommand command;
    if (!command.Parse(argc, argv))
    {
        fprintf(errors, "usage: InstallUtility -uninstall DEFINITION TARGETFILE [-v] [-n]\n");
        return 2;
    }
    TqString targetPath;
    if (!TargetPathFile::Read(command.targetFilePath, targetPath))
    {
        fprintf(errors, "cannot read the target path from %s\n", command.targetFilePath.ConstData());
        return 2;
    }
    SKUDefinition definition;
    if (!readDefinition(command.definitionPath, definition))
    {
        fprintf(errors, "cannot read the product definition %s\n", command.definitionPath.ConstData());
        return 2;
    }
    // A dry run exists to show what would go, so it always lists the entries.
    InstallRemover remover(targetPath, command.verbose || command.dryRun, command.dryRun, out, errors);
    return remover.Run(definition.installRoot);
}
