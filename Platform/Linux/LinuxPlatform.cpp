#include "LinuxPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "BundleLocation.h"
#include "FileServices.h"
#include "GtkDialog.h"
#include "TrustedFiles.h"

LinuxPlatform::LinuxPlatform() : executableFolder(ExecutableFolder()) {}

DialogMode LinuxPlatform::CurrentDialogMode()
{
    if (!dialogModeChosen)
    {
        dialogMode = ChooseDialogMode(std::getenv("UNINSTALL_UNATTENDED"), InitGtkDialogs, HasTerminal);
        dialogModeChosen = true;
    }
    return dialogMode;
}

int LinuxPlatform::RunAlert(const Alert& alert)
{
    switch (CurrentDialogMode())
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
    // At a terminal the copy must keep the terminal's foreground (sudo asks there), and an
    // unattended caller waits for this process: both get the copy in this very process.
    DialogMode mode = CurrentDialogMode();
    if (mode == DialogMode::Terminal || mode == DialogMode::Unattended)
        return ReplaceProcess(path, arguments);
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
    elevation = ChooseElevation(geteuid() == 0, std::getenv("PATH"), HasTerminalForeground());
    // sudo asks here, on the terminal, so that its refusal is never taken for the tool's failure.
    Vector<TqString> check = RightsCheckCommand(elevation);
    if (!check.empty() && RunAndWait(check) != 0)
        elevation = Elevation();
    return elevation.method != ElevationMethod::None;
}

bool LinuxPlatform::ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments)
{
    if (elevation.method == ElevationMethod::None || toolPath.IsEmpty())
        return false;
    // Raised before the start, so no interruption falls between the start and the shield; once
    // the tool runs, it runs to its end and is reported.
    interruptionShield.Raise();
    if (tool.Start(PrivilegedCommand(elevation, toolPath, arguments)))
        return true;
    interruptionShield.Lower();
    return false;
}

void LinuxPlatform::FreeAuthorization()
{
    tool.Close();
    elevation = Elevation();
}

long LinuxPlatform::ReadToolOutput(char* buffer, unsigned long size)
{
    // The window is redrawn while the tool is quiet; the pipe is read the moment it has output.
    if (progressWindow.IsOpen())
        WaitForInputHandlingGtkEvents(tool.OutputDescriptor());
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

bool LinuxPlatform::AcquisitionWasCancelled()
{
    // pkexec's dismissed dialog shows only in the tool's outcome; a failed acquisition here means
    // there was no way to ask, or sudo refused.
    return false;
}

// Unattended and no-terminal runs show no progress: their standard error is read by scripts.
void LinuxPlatform::BeginToolProgress(const TqString& productName, unsigned long totalEntries)
{
    EndToolProgress();
    switch (CurrentDialogMode())
    {
    case DialogMode::Graphical:
        progressWindow.Open(productName, totalEntries);
        break;
    case DialogMode::Terminal:
        progressTerminal = std::fopen("/dev/tty", "we");
        if (progressTerminal != nullptr)
            terminalProgress.Begin(progressTerminal, productName, totalEntries);
        break;
    case DialogMode::Unattended:
    case DialogMode::NonInteractive:
        break;
    }
}

void LinuxPlatform::ShowToolProgress(unsigned long handledEntries, const TqString& currentPath)
{
    progressWindow.Update(handledEntries, currentPath);
    if (progressTerminal != nullptr)
        terminalProgress.Show(handledEntries);
}

void LinuxPlatform::EndToolProgress()
{
    progressWindow.Close();
    if (progressTerminal != nullptr)
    {
        terminalProgress.End();
        std::fclose(progressTerminal);
        progressTerminal = nullptr;
    }
}
