#include "LinuxPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "BundleLocation.h"
#include "FileServices.h"
#include "GtkDialog.h"
#include "TrustedFiles.h"

LinuxPlatform::LinuxPlatform() : executableFolder(ExecutableFolder()) {}

int LinuxPlatform::RunAlert(const Alert& alert)
{
    if (!dialogModeChosen)
    {
        dialogMode = ChooseDialogMode(std::getenv("UNINSTALL_UNATTENDED"), InitGtkDialogs, HasTerminal);
        dialogModeChosen = true;
    }
    switch (dialogMode)
    {
    case DialogMode::Unattended:
        return RunStreamAlert(stderr, alert, true);
    case DialogMode::Graphical:
        return RunGtkAlert(alert);
    case DialogMode::Terminal:
    {
        FILE* input = std::fopen("/dev/tty", "re");
        FILE* output = std::fopen("/dev/tty", "we");
        int answer = input != nullptr && output != nullptr ? RunTerminalAlert(input, output, alert)
                                                           : RunStreamAlert(stderr, alert, false);
        if (input != nullptr)
            std::fclose(input);
        if (output != nullptr)
            std::fclose(output);
        return answer;
    }
    case DialogMode::NonInteractive:
        break;
    }
    return RunStreamAlert(stderr, alert, false);
}

TqString LinuxPlatform::PathForAuxiliaryExecutable(const TqString& name)
{
    return AuxiliaryPath(executableFolder, name);
}

TqString LinuxPlatform::BundlePath()
{
    return BundlePathOf(executableFolder);
}

TqString LinuxPlatform::TemporaryDirectory()
{
    return UserTemporaryDirectory(std::getenv("TMPDIR"), geteuid());
}

TqString LinuxPlatform::GloballyUniqueString()
{
    return UniqueRunString();
}

bool LinuxPlatform::CreateDirectory(const TqString& path)
{
    return CreatePrivateDirectory(path);
}

bool LinuxPlatform::CopyItem(const TqString& from, const TqString& to)
{
    return CopyTree(from, to);
}

bool LinuxPlatform::LaunchTask(const TqString& path, const Vector<TqString>& arguments)
{
    return LaunchDetached(path, arguments);
}

void LinuxPlatform::ActivateIgnoringOtherApps()
{
    // Each GTK alert presents itself above other windows; there is no other window to raise.
}

bool LinuxPlatform::CreateAuthorization()
{
    elevation = Elevation();
    return true;
}

bool LinuxPlatform::AcquireRight(const TqString& rightName)
{
    if (!(rightName == TqString("system.privilege.admin")))
        return false;
    elevation = ChooseElevation(geteuid() == 0, std::getenv("PATH"), HasTerminal());
    return elevation.method != ElevationMethod::None;
}

bool LinuxPlatform::ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments)
{
    if (elevation.method == ElevationMethod::None || toolPath.IsEmpty())
        return false;
    return tool.Start(PrivilegedCommand(elevation, toolPath, arguments));
}

void LinuxPlatform::FreeAuthorization()
{
    tool.Close();
    elevation = Elevation();
}

long LinuxPlatform::ReadToolOutput(char* buffer, unsigned long size)
{
    return tool.Read(buffer, size);
}

ToolOutcome LinuxPlatform::WaitForTool()
{
    return OutcomeOfExit(elevation.method, tool.Wait());
}

bool LinuxPlatform::RemoveItem(const TqString& path)
{
    return RemoveTree(path);
}

bool LinuxPlatform::ChooseFilesToElevate(const TqString& installedBundlePath, TqString& toolPath,
                                         TqString& definitionPath, TqString& targetPathFile)
{
    RemovalFiles files{toolPath, definitionPath, targetPathFile};
    if (!ChooseRemovalFiles(geteuid(), installedBundlePath, files))
        return false;
    toolPath = files.tool;
    definitionPath = files.definition;
    targetPathFile = files.targetPathFile;
    return true;
}
