#include "LinuxPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "BundleLocation.h"
#include "FileServices.h"
#include "GtkDialog.h"
#include "PathText.h"
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

namespace
{

// Where dialogs go to standard error in a fixed format, the lines that explain one come before it.
void WriteDetails(const Alert& alert)
{
    if (alert.details.IsSet())
        (void)std::fprintf(stderr, "%s\n", alert.details.ConstData());
}

// A run folder's name as UniqueRunString makes it: 32 hexadecimal digits, "-", the process id.
bool IsRunFolderName(const TqString& name)
{
    const char* text = name.ConstData();
    const size_t length = std::strlen(text);
    if (length < 34 || text[32] != '-' || std::strspn(text, "0123456789abcdef") != 32)
        return false;
    return std::strspn(text + 33, "0123456789") == length - 33;
}

} // namespace

int LinuxPlatform::RunAlert(const Alert& alert)
{
    switch (CurrentDialogMode())
    {
    case DialogMode::Unattended:
        WriteDetails(alert);
        return RunStreamAlert(stderr, alert, true);
    case DialogMode::Graphical:
        return RunGtkAlert(alert);
    case DialogMode::Terminal:
    {
        FILE* input = std::fopen("/dev/tty", "re");
        FILE* output = std::fopen("/dev/tty", "we");
        if (input == nullptr || output == nullptr)
            WriteDetails(alert);
        int answer = input != nullptr && output != nullptr ? RunTerminalAlert(input, output, alert)
                                                           : RunStreamAlert(stderr, alert, false);
        if (input != nullptr)
            (void)std::fclose(input);
        if (output != nullptr)
            (void)std::fclose(output);
        return answer;
    }
    case DialogMode::NonInteractive:
        break;
    }
    WriteDetails(alert);
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

Status LinuxPlatform::TemporaryDirectory(TqString& folder)
{
    return ChooseTemporaryDirectory(std::getenv("TMPDIR"), geteuid(), folder);
}

TqString LinuxPlatform::GloballyUniqueString()
{
    return UniqueRunString();
}

Status LinuxPlatform::CreateDirectory(const TqString& path)
{
    return CreatePrivateDirectory(path);
}

Status LinuxPlatform::CopyItem(const TqString& from, const TqString& to)
{
    return CopyTree(from, to);
}

Status LinuxPlatform::LaunchTask(const TqString& path, const Vector<TqString>& arguments)
{
    // At a terminal the copy must keep the terminal's foreground (sudo asks there), and an
    // unattended or scripted caller waits for this process and its exit status: these get the
    // copy in this very process.
    // Only windows let the first phase end at once.
    if (CurrentDialogMode() != DialogMode::Graphical)
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
    rightsFailure = TqString();
    promptInterrupted = false;
    if (!(rightName == TqString("system.privilege.admin")))
        return false;
    const char* path = std::getenv("PATH");
    elevation = ChooseElevation(geteuid() == 0 || !rootsInstallation, path, HasTerminalForeground());
    if (elevation.method == ElevationMethod::None)
    {
        rightsFailure =
            FindOnPath("sudo", path).IsSet()
                ? "pkexec is not on PATH, and sudo can ask for a password only at a terminal where the "
                  "uninstaller runs in the foreground"
                : "neither pkexec nor sudo is on PATH";
        return false;
    }
    return ConfirmSudo();
}

bool LinuxPlatform::ConfirmSudo()
{
    // sudo asks here, on the terminal, so that its refusal is never taken for the tool's failure.
    Vector<TqString> check = RightsCheckCommand(elevation);
    TqString said;
    int interruption = 0;
    const int status = check.empty() ? 0 : RunAndWait(check, &said, &interruption);
    // Interrupted at the prompt (which sudo then leaves): the person cancelled, as by dismissing it.
    promptInterrupted = interruption != 0;
    if (promptInterrupted)
    {
        elevation = Elevation();
        return false;
    }
    if (status != 0)
    {
        elevation = Elevation();
        rightsFailure = said.IsSet() ? said : TqString("sudo refused");
        return false;
    }
    return true;
}

Status LinuxPlatform::ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments)
{
    if (elevation.method == ElevationMethod::None || toolPath.IsEmpty())
        return Status::Failed(EPERM, "no rights to run the removal tool with");
    // Root does not run a tool a user controls with root's rights: the user's own are enough.
    RunAsUser runAs;
    if (elevation.method == ElevationMethod::Direct && geteuid() == 0 && toolUser != 0)
        runAs = RunAsUser{true, toolUser, toolGroup};
    // Raised before the start, so no interruption falls between the start and the shield; once
    // the tool runs, it runs to its end and is reported.
    interruptionShield.Raise();
    const Status started = tool.Start(PrivilegedCommand(elevation, toolPath, arguments), runAs);
    if (started.IsDone())
    {
        startedTool = toolPath;
        startedArguments = arguments;
        return started;
    }
    interruptionShield.Lower();
    return started;
}

void LinuxPlatform::FreeAuthorization()
{
    tool.Close();
    elevation = Elevation();
}

TqString LinuxPlatform::RightsFailureReason()
{
    return rightsFailure;
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
    const ToolOutcome outcome = OutcomeOfExit(elevation.method, tool.Wait());
    if (outcome != ToolOutcome::RightsNotObtained || elevation.method != ElevationMethod::Pkexec)
        return outcome;
    // pkexec could not authenticate (no agent, no session): at the terminal, sudo may still ask.
    const TqString sudo = HasTerminalForeground() ? FindOnPath("sudo", std::getenv("PATH")) : TqString();
    if (sudo.IsEmpty())
        return outcome;
    elevation = Elevation{ElevationMethod::Sudo, sudo};
    // The progress line gives way to sudo's prompt, and comes back after it.
    const TqString productName = progressProduct;
    const unsigned long totalEntries = progressTotal;
    EndToolProgress();
    if (!ConfirmSudo())
        return promptInterrupted ? ToolOutcome::AuthorizationRefused : ToolOutcome::RightsNotObtained;
    const Status started = tool.Start(PrivilegedCommand(elevation, startedTool, startedArguments));
    if (!started.IsDone())
    {
        rightsFailure = started.Text();
        return ToolOutcome::RightsNotObtained;
    }
    BeginToolProgress(productName, totalEntries);
    return ToolOutcome::Restarted;
}

bool LinuxPlatform::RemoveItem(const TqString& path)
{
    return RemoveTree(path);
}

bool LinuxPlatform::RemoveRunningCopy()
{
    // Only a folder this program makes: named as a run folder, this user's, private, holding the bundle.
    const TqString bundle = BundlePath();
    const TqString folder = PathText::Parent(bundle);
    struct stat status;
    const char* name = std::strrchr(folder.ConstData(), '/');
    if (!(PathText::Join(folder, "Uninstall.app") == bundle) || name == nullptr ||
        !IsRunFolderName(name + 1) || lstat(folder.ConstData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != geteuid() || (status.st_mode & 07777) != 0700)
        return false;
    return RemoveTree(folder);
}

Status LinuxPlatform::FindInstalledFiles(TqString& toolPath, TqString& definitionPath,
                                         TqString& targetPathFile)
{
    RemovalFiles files{toolPath, definitionPath, targetPathFile};
    const Status resolved = ResolveRemovalFiles(files);
    if (!resolved.IsDone())
        return resolved;
    toolPath = files.tool;
    definitionPath = files.definition;
    targetPathFile = files.targetPathFile;
    rootsInstallation = IsRootsInstallation(files);
    toolUser = 0;
    toolGroup = 0;
    if (geteuid() == 0 && !rootsInstallation)
        return ControllingUser(files.tool, toolUser, toolGroup);
    return Status::Done();
}

bool LinuxPlatform::AcquisitionWasCancelled()
{
    // pkexec's dismissed dialog shows only in the tool's outcome; a failed acquisition here means
    // there was no way to ask, sudo refused, or its prompt was interrupted.
    return promptInterrupted;
}

// Unattended and no-terminal runs show no progress: their standard error is read by scripts.
void LinuxPlatform::BeginToolProgress(const TqString& productName, unsigned long totalEntries)
{
    EndToolProgress();
    progressProduct = productName;
    progressTotal = totalEntries;
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
    if (progressTerminal == nullptr)
        return;
    if (handledEntries == 0)
        terminalProgress.Say(currentPath);
    else
        terminalProgress.Show(handledEntries);
}

// Where dialogs go to standard error there is no progress; the waiting line is the one word of it
// that a script's log needs when it comes, not only with the report.
void LinuxPlatform::ShowToolWaiting(const TqString& line)
{
    const DialogMode mode = CurrentDialogMode();
    if (mode != DialogMode::Unattended && mode != DialogMode::NonInteractive)
        return;
    (void)std::fprintf(stderr, "%s\n", line.ConstData());
    (void)std::fflush(stderr);
}

void LinuxPlatform::EndToolProgress()
{
    progressWindow.Close();
    if (progressTerminal != nullptr)
    {
        terminalProgress.End();
        (void)std::fclose(progressTerminal);
        progressTerminal = nullptr;
    }
}
