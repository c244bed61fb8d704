#include "LinuxPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <termios.h>
#include <unistd.h>

#include "BundleLocation.h"
#include "FileDescriptor.h"
#include "FileServices.h"
#include "GtkDialog.h"
#include "LineEscaping.h"
#include "PathText.h"
#include "PlatformNames.h"
#include "RunFolders.h"
#include "StopRequests.h"
#include "SystemLog.h"
#include "TrustedFiles.h"
#include "UserIdentity.h"

LinuxPlatform::LinuxPlatform()
    : executablePath(ExecutablePath()),
      executableFolder(executablePath.IsSet() ? PathText::Parent(executablePath) : TqString())
{
}

DialogMode LinuxPlatform::CurrentDialogMode()
{
    if (!dialogModeChosen)
    {
        dialogMode = ChooseDialogMode(std::getenv("UNINSTALL_UNATTENDED"), InitGtkDialogs, HasTerminal);
        dialogModeChosen = true;
    }
    return dialogMode;
}

bool LinuxPlatform::ShowsToolProgress()
{
    const DialogMode mode = CurrentDialogMode();
    return mode == DialogMode::Graphical || mode == DialogMode::Terminal;
}

namespace
{

// How long the tool may be quiet before the progress line draws a frame it skipped.
const int kQuietBeforeDrawingMilliseconds = 100;

// How much of what the elevation program and the tool said is kept to tell why the rights could
// not be had: pkexec's words come first and are short.
const unsigned long kElevationSaidLimit = 16384;

} // namespace

// The platform only chooses how the dialog is shown, and hands in what ends its wait.
int LinuxPlatform::RunAlert(const Alert& alert)
{
    // A stop asked for while the dialog waits answers it; without stop requests, Ctrl-C does.
    const unsigned long requestsBefore = StopRequests::Count();
    switch (CurrentDialogMode())
    {
    case DialogMode::Unattended:
        return RunStreamAlert(stderr, alert, true);
    case DialogMode::Graphical:
        return RunGtkAlert(alert, [requestsBefore] { return StopRequests::Count() != requestsBefore; });
    case DialogMode::Terminal:
        if (!StopRequests::IsCaught())
            return RunAlertAtTerminal(alert);
        return RunAlertAtTerminal(alert, [requestsBefore](int terminal)
                                  { return StopRequests::WaitForInput(terminal, requestsBefore); });
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

Result<TqString> LinuxPlatform::TemporaryDirectory()
{
    return ChooseTemporaryDirectory(std::getenv("TMPDIR"), geteuid());
}

TqString LinuxPlatform::GloballyUniqueString()
{
    return UniqueRunString();
}

Status LinuxPlatform::CreateDirectory(const TqString& path)
{
    const Status made = CreatePrivateDirectory(path);
    if (!made.IsDone())
        return made;
    // Every folder the flow makes is a run folder. Without the record a later run still removes
    // it once no process has its pid.
    const FileDescriptor folder(open(path.ConstData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.IsOpen())
        (void)WriteRunRecord(folder.Get());
    return made;
}

Status LinuxPlatform::CopyItem(const TqString& from, const TqString& to)
{
    copiedProgram = TqString();
    // The copy runs the program that runs now, read through the one descriptor that is it, never
    // what has been put at its name in the bundle since.
    const FileDescriptor program(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!program.IsOpen())
        return Status::Failed(errno, "could not open the running program");
    TqString inside = from;
    if (!inside.EndsWith("/"))
        inside += "/";
    if (executablePath.Size() <= inside.Size() || !(executablePath.Substr(0, inside.Size()) == inside))
        return Status::Failed(ENOENT, TqString("the running program is not in ") + from);
    CopyOptions options;
    options.replacedFile = executablePath.Substr(inside.Size(), executablePath.Size() - inside.Size());
    options.replacementFd = program.Get();
    options.stopAsked = [] { return StopRequests::Count() != 0; };
    const Status copied = CopyTree(from, to, options);
    if (copied.IsDone())
        copiedProgram = PathText::Join(to, options.replacedFile);
    return copied;
}

Status LinuxPlatform::LaunchTask(const TqString& path, const Vector<TqString>& arguments)
{
    if (copiedProgram.IsEmpty() || !(path == copiedProgram))
        return Status::Failed(EPERM, TqString("not the copy of the running program: ") + path);
    // A stop asked for from here on waits, pending, in the copy until it has removed its folder:
    // past this check the copy is what removes it.
    StopRequests::Hold();
    if (StopRequests::Count() != 0)
    {
        StopRequests::Release();
        return Status::Failed(EINTR, "stopped before the copy was started");
    }
    // At a terminal the copy must keep the terminal's foreground (sudo asks there), and an
    // unattended or scripted caller waits for this process and its exit status: these get the
    // copy in this very process.
    // Only windows let the first phase end at once.
    const Status started = CurrentDialogMode() != DialogMode::Graphical ? ReplaceProcess(path, arguments)
                                                                        : LaunchDetached(path, arguments);
    StopRequests::Release();
    return started;
}

void LinuxPlatform::ActivateIgnoringOtherApps()
{
    // Each GTK alert presents itself above other windows; there is no other window to raise.
}

void LinuxPlatform::CatchStopRequests()
{
    StopRequests::Catch();
}

bool LinuxPlatform::StopWasRequested()
{
    return StopRequests::Count() != 0;
}

void LinuxPlatform::RemoveAbandonedRunFolders()
{
    const Result<TqString> folder = TemporaryDirectory();
    if (folder.IsDone())
        ::RemoveAbandonedRunFolders(folder.Value(), geteuid());
}

Status LinuxPlatform::CreateAuthorization()
{
    elevation = Elevation();
    return Status::Done();
}

Status LinuxPlatform::AcquireRight(const TqString& rightName)
{
    if (!(rightName == TqString(PlatformNames::kAdminRight)))
        return Status::Failed(0, TqString("no such right: ") + rightName);
    const char* path = std::getenv("PATH");
    elevation = ChooseElevation(geteuid() == 0 || !rootsInstallation, path, HasTerminalForeground());
    if (elevation.method == ElevationMethod::None)
        return Status::Failed(
            0, FindOnPath("sudo", path).IsSet()
                   ? "pkexec is not on PATH, and sudo can ask for a password only at a terminal where the "
                     "uninstaller runs in the foreground"
                   : "neither pkexec nor sudo is on PATH");
    return ConfirmSudo();
}

Status LinuxPlatform::ConfirmSudo()
{
    // sudo asks here, on the terminal, so that its refusal is never taken for the tool's failure.
    Vector<TqString> check = RightsCheckCommand(elevation);
    TqString said;
    int interruption = 0;
    const int status = check.empty() ? 0 : RunAndWait(check, &said, &interruption);
    if (interruption == 0 && status == 0)
        return Status::Done();
    elevation = Elevation();
    // Interrupted at the prompt (which sudo then leaves): the person cancelled, as by dismissing it.
    if (interruption != 0)
        return Status::Failed(ECANCELED, "the password prompt was interrupted");
    return Status::Failed(0, said.IsSet() ? said : TqString("sudo refused"));
}

Status LinuxPlatform::ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments)
{
    if (elevation.method == ElevationMethod::None || toolPath.IsEmpty())
        return Status::Failed(EPERM, "no rights to run the removal tool with");
    // Root does not run a tool a user controls with root's rights: the user's own are enough.
    RunAsUser runAs;
    if (elevation.method == ElevationMethod::Direct && geteuid() == 0 && toolUser != 0)
    {
        Result<UserIdentity> known = LookUpUser(toolUser);
        if (!known.IsDone())
            return known.GetStatus();
        runAs.set = true;
        runAs.identity = known.TakeValue();
    }
    // Raised before the start, so no interruption falls between the start and the shield; once
    // the tool runs, it runs to its end and is reported.
    interruptionShield.Raise();
    elevationSaid = TqString();
    // With windows, the terminal (if any) is the shell's again: pkexec asks through the desktop's
    // agent or not at all.
    tool.StartWithoutTerminal(CurrentDialogMode() == DialogMode::Graphical);
    // pkexec's own prompt turns the terminal's echo off, and a pkexec interrupted there leaves
    // it so: the terminal's settings are put back once it has ended by a signal.
    terminalSaved = false;
    if (CurrentDialogMode() == DialogMode::Terminal)
    {
        const FileDescriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
        terminalSaved = terminal.IsOpen() && tcgetattr(terminal.Get(), &terminalSettings) == 0;
    }
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

void LinuxPlatform::WaitForToolOutput()
{
    // The window is redrawn while the tool is quiet; the pipe is read the moment it has output.
    if (progressWindow.IsOpen())
        WaitForInputHandlingGtkEvents(tool.OutputDescriptor());
    // The progress line's last frame is drawn once the tool has been quiet for a tenth of a second.
    else if (progressTerminal.IsOpen())
    {
        pollfd output = {tool.OutputDescriptor(), POLLIN, 0};
        if (poll(&output, 1, kQuietBeforeDrawingMilliseconds) == 0)
            terminalProgress.DrawSkipped();
    }
}

long LinuxPlatform::ReadToolOutput(char* buffer, unsigned long size)
{
    // Output already taken from the pipe is handed on at once.
    if (!tool.HasReadAhead())
        WaitForToolOutput();
    const long got = tool.Read(buffer, size);
    // pkexec's words come first; the tool's own report is not needed to tell why it failed.
    if (got > 0 && elevationSaid.Size() < kElevationSaidLimit)
        elevationSaid += TqString(buffer, static_cast<unsigned long>(got));
    return got;
}

ToolEnding LinuxPlatform::WaitForTool()
{
    const int exitStatus = tool.Wait();
    const ToolOutcome outcome = OutcomeOfExit(elevation.method, exitStatus, tool.EndingSignal());
    if (tool.EndingSignal() != 0 && terminalSaved)
    {
        // The report starts on a line of its own, not after the prompt that was interrupted.
        const FileDescriptor terminal(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (terminal.IsOpen())
        {
            (void)tcsetattr(terminal.Get(), TCSAFLUSH, &terminalSettings);
            (void)!write(terminal.Get(), "\n", 1);
        }
    }
    if (outcome != ToolOutcome::RightsNotObtained || elevation.method != ElevationMethod::Pkexec)
        return ToolEnding{outcome, TqString(), TqString()};
    return RestartWithSudo();
}

ToolEnding LinuxPlatform::RestartWithSudo()
{
    // pkexec could not authenticate (no agent, no session): at the terminal, sudo may still ask.
    const TqString sudo = HasTerminalForeground() ? FindOnPath("sudo", std::getenv("PATH")) : TqString();
    if (sudo.IsEmpty())
        return ToolEnding{ToolOutcome::RightsNotObtained, TqString(), PkexecFailureAdvice(elevationSaid)};
    elevation = Elevation{ElevationMethod::Sudo, sudo};
    // The progress line gives way to sudo's prompt, and comes back after it.
    const TqString productName = progressProduct;
    const unsigned long totalEntries = progressTotal;
    EndToolProgress();
    const Status confirmed = ConfirmSudo();
    if (confirmed.IsCancelled())
        return ToolEnding{ToolOutcome::Cancelled, TqString(), TqString()};
    if (!confirmed.IsDone())
        return ToolEnding{ToolOutcome::RightsNotObtained, confirmed.Message(), TqString()};
    const Status started = tool.Start(PrivilegedCommand(elevation, startedTool, startedArguments));
    if (!started.IsDone())
        return ToolEnding{ToolOutcome::RightsNotObtained, started.Text(), TqString()};
    BeginToolProgress(productName, totalEntries);
    return ToolEnding{ToolOutcome::Restarted, TqString(), TqString()};
}

Status LinuxPlatform::RemoveItem(const TqString& path)
{
    return RemoveTree(path);
}

Status LinuxPlatform::RemoveRunningCopy()
{
    // Only a folder this program makes: named as a run folder, this user's, private, holding the bundle.
    const TqString bundle = BundlePath();
    const TqString folder = PathText::Parent(bundle);
    struct stat status;
    const char* name = std::strrchr(folder.ConstData(), '/');
    const bool runFolder = PathText::Join(folder, PlatformNames::kBundleFolder) == bundle && name != nullptr &&
                           IsRunFolderName(name + 1) && lstat(folder.ConstData(), &status) == 0 &&
                           IsPrivateFolderOf(status, geteuid());
    const Status removed =
        runFolder ? RemoveTree(folder) : Status::Failed(0, folder + ": not a run folder of this program");
    // The first phase held interruptions back across the relaunch; with nothing of the copy left
    // on disk, one that came meanwhile may take its course.
    StopRequests::Release();
    return removed;
}

Result<InstalledFiles> LinuxPlatform::FindInstalledFiles(const InstalledFiles& named)
{
    RemovalFiles files{named.tool, named.definition, named.targetPathFile};
    const Result<uid_t> controller = SettleControl(files);
    const Status& settled = controller.GetStatus();
    if (settled.IsSystemFailure())
        return settled;
    // Rights are asked for only when root alone controls the installation. Inputs no one user
    // controls go to the tool, which refuses them with its own line; root has no user to be.
    rootsInstallation = controller.IsDone() && controller.Value() == 0;
    toolUser = controller.IsDone() ? controller.Value() : 0;
    if (geteuid() == 0 && !controller.IsDone())
        return settled;
    return InstalledFiles{files.tool, files.definition, files.targetPathFile};
}

void LinuxPlatform::RecordRefusal(const TqString& line)
{
    // The refusal is said on standard error or in a dialog already; a log that does not take the
    // record changes nothing of that.
    const std::string uid = std::to_string(getuid());
    (void)SystemLog::Send(LOG_USER | LOG_WARNING, "Uninstall",
                          TqString("refused: ") + EscapeLineText(line) + "; asked by uid " + uid.c_str() +
                              "; exit status 2");
}

Status LinuxPlatform::CheckRootMayRunInstallation(const Vector<TqString>& installedPaths)
{
    return CheckRootMayRun(installedPaths);
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
        progressWindow.Open(productName, totalEntries, AskToolToStop);
        break;
    case DialogMode::Terminal:
        progressTerminal = FileStream(std::fopen("/dev/tty", "we"));
        if (progressTerminal.IsOpen())
            terminalProgress.Begin(progressTerminal.Get(), productName, totalEntries);
        break;
    case DialogMode::Unattended:
    case DialogMode::NonInteractive:
        break;
    }
}

void LinuxPlatform::ShowToolProgress(unsigned long handledEntries, const TqString& currentPath,
                                     const TqString& activity)
{
    progressWindow.Update(handledEntries, currentPath, activity);
    if (!progressTerminal.IsOpen())
        return;
    if (handledEntries == 0 && !activity.IsSet())
        terminalProgress.Say(currentPath);
    else
        terminalProgress.Show(handledEntries, activity);
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
    if (progressTerminal.IsOpen())
    {
        terminalProgress.End();
        progressTerminal = FileStream();
    }
}
