#ifndef TQ_LINUXPLATFORM_H
#define TQ_LINUXPLATFORM_H

#include "Dialogs.h"
#include "Elevation.h"
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
    TqString TemporaryDirectory() override;
    TqString GloballyUniqueString() override;
    bool CreateDirectory(const TqString& path) override;
    bool CopyItem(const TqString& from, const TqString& to) override;
    bool LaunchTask(const TqString& path, const Vector<TqString>& arguments) override;
    void ActivateIgnoringOtherApps() override;
    bool CreateAuthorization() override;
    bool AcquireRight(const TqString& rightName) override;
    bool ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments) override;
    void FreeAuthorization() override;
    long ReadToolOutput(char* buffer, unsigned long size) override;
    ToolOutcome WaitForTool() override;
    bool RemoveItem(const TqString& path) override;
    bool ChooseFilesToElevate(const TqString& installedBundlePath, TqString& toolPath,
                              TqString& definitionPath, TqString& targetPathFile) override;
    bool AcquisitionWasCancelled() override;
    void BeginToolProgress(const TqString& productName, unsigned long totalEntries) override;
    void ShowToolProgress(unsigned long handledEntries, const TqString& currentPath) override;
    void EndToolProgress() override;

private:
    // The mode is chosen once, by whichever comes first: an alert or the progress display.
    DialogMode CurrentDialogMode();

    TqString executableFolder;
    bool dialogModeChosen = false;
    DialogMode dialogMode = DialogMode::NonInteractive;
    Elevation elevation;
    // Raised when the tool starts and kept until the end, so the report is shown too; declared
    // before the tool, so the tool is waited for before it is lowered.
    InterruptionShield interruptionShield;
    ToolProcess tool;
    // The progress shown while the tool runs: a window in GTK, a line on /dev/tty at a terminal.
    GtkProgressWindow progressWindow;
    TerminalProgress terminalProgress;
    FILE* progressTerminal = nullptr;
};

#endif
