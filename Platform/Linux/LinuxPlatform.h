#ifndef TQ_LINUXPLATFORM_H
#define TQ_LINUXPLATFORM_H

#include <termios.h>

#include "Dialogs.h"
#include "Elevation.h"
#include "FileStream.h"
#include "GtkProgress.h"
#include "ProcessLauncher.h"
#include "TerminalProgress.h"
#include "UninstallerPlatform.h"

// The uninstaller's services on Linux: the bundle from /proc/self/exe, private temporary
// directories, posix_spawn (or execv when the dialogs are at a terminal or unattended), pkexec or
// sudo for rights, and the dialog mode chosen at the first alert.
class LinuxPlatform : public UninstallerPlatform
{
public:
    LinuxPlatform();

    int RunAlert(const Alert& alert) override;
    TqString PathForAuxiliaryExecutable(const TqString& name) override;
    TqString BundlePath() override;
    Result<TqString> TemporaryDirectory() override;
    TqString GloballyUniqueString() override;
    Status CreateDirectory(const TqString& path) override;
    Status CopyItem(const TqString& from, const TqString& to) override;
    Status LaunchTask(const TqString& path, const Vector<TqString>& arguments) override;
    void ActivateIgnoringOtherApps() override;
    void CatchStopRequests() override;
    bool StopWasRequested() override;
    void RemoveAbandonedRunFolders() override;
    Status CreateAuthorization() override;
    Status AcquireRight(const TqString& rightName) override;
    Status ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments) override;
    void FreeAuthorization() override;
    long ReadToolOutput(char* buffer, unsigned long size) override;
    ToolEnding WaitForTool() override;
    Status RemoveItem(const TqString& path) override;
    Status RemoveRunningCopy() override;
    Result<InstalledFiles> FindInstalledFiles(const InstalledFiles& named) override;
    Status CheckRootMayRunInstallation(const Vector<TqString>& installedPaths) override;
    void RecordRefusal(const TqString& line) override;
    bool ShowsToolProgress() override;
    void BeginToolProgress(const TqString& productName, unsigned long totalEntries) override;
    void ShowToolProgress(unsigned long handledEntries, const TqString& currentPath,
                          const TqString& activity) override;
    void EndToolProgress() override;
    void ShowToolWaiting(const TqString& line) override;

private:
    // The mode is chosen once, by whichever comes first: an alert or the progress display.
    DialogMode CurrentDialogMode();
    // Waits for the tool's pipe to have output, keeping the progress display alive meanwhile.
    void WaitForToolOutput();
    // With sudo chosen, asks for the password on the terminal (sudo -v); failed with sudo's
    // words when it refused, cancelled when its prompt was interrupted.
    Status ConfirmSudo();
    // pkexec could not ask for the rights: at a terminal, sudo may still ask. How the tool then
    // ends for now: restarted, or why the rights could not be had.
    ToolEnding RestartWithSudo();

    TqString executablePath;
    TqString executableFolder;
    // The copy of the running program that CopyItem wrote, the only one LaunchTask starts.
    TqString copiedProgram;
    bool dialogModeChosen = false;
    DialogMode dialogMode = DialogMode::NonInteractive;
    Elevation elevation;
    // Settled by FindInstalledFiles: whether root alone controls the installation, and, for root
    // running one a user controls, that user's ids.
    bool rootsInstallation = true;
    uid_t toolUser = 0;
    // The terminal's settings before the tool (and pkexec's prompt) started, in terminal mode.
    bool terminalSaved = false;
    struct termios terminalSettings = {};
    // What pkexec and the tool said since the tool was started (its first bytes), to tell why
    // pkexec could not get the rights.
    TqString elevationSaid;
    // What was started, so that it can be started again with sudo when pkexec could not ask.
    TqString startedTool;
    Vector<TqString> startedArguments;
    TqString progressProduct;
    unsigned long progressTotal = 0;
    // Raised when the tool starts and kept until the end, so the report is shown too; declared
    // before the tool, so the tool is waited for before it is lowered.
    InterruptionShield interruptionShield;
    ToolProcess tool;
    // The progress shown while the tool runs: a window in GTK, a line on /dev/tty at a terminal.
    GtkProgressWindow progressWindow;
    TerminalProgress terminalProgress;
    FileStream progressTerminal;
};

#endif
