#ifndef TQ_UNINSTALLERPLATFORM_H
#define TQ_UNINSTALLERPLATFORM_H

#include "TqString.h"
#include "Vector.h"

// What an alert is about; a graphical dialog shows the matching icon.
enum class AlertKind
{
    Question,   // the confirmation
    Error,      // something went wrong
    Information // the completion
};

// A modal alert as the uninstaller forms it: a headline, a body and up to three buttons. An unset
// button label means "no such button", except the default button, which is then labelled "OK".
struct Alert
{
    TqString messageText;
    TqString informativeText;
    TqString defaultButton;
    TqString alternateButton;
    TqString otherButton;
    AlertKind kind = AlertKind::Error;
    // Lines shown on request beside the texts (what a failed run could not remove); unset for none.
    // Only the graphical and terminal dialogs show them: the standard-error format stays fixed.
    TqString details;
};

// The answers of an alert, as the flow compares them.
enum AlertReturn
{
    AlertDefaultReturn = 1,
    AlertAlternateReturn = 0,
    AlertOtherReturn = -1
};

// How the privileged removal tool ended once its output had closed.
enum class ToolOutcome
{
    Succeeded,            // exit status 0
    Failed,               // any other status, or killed by a signal
    AuthorizationRefused, // the user dismissed the password prompt: the run ends quietly
    RightsNotObtained     // no way to ask for rights, or they were refused: the user is told
};

// The operating-system services the uninstaller flow needs. The flow receives one of these and
// never reaches a backend directly, so it runs the same on any system and under test.
class UninstallerPlatform
{
public:
    virtual ~UninstallerPlatform() {}

    // Shows a modal alert and returns AlertDefaultReturn, AlertAlternateReturn or AlertOtherReturn.
    virtual int RunAlert(const Alert& alert) = 0;

    // Path of a file of that name in the running bundle's executable folder; unset when there is none.
    virtual TqString PathForAuxiliaryExecutable(const TqString& name) = 0;
    // Path of the running bundle itself.
    virtual TqString BundlePath() = 0;
    // The user's temporary directory.
    virtual TqString TemporaryDirectory() = 0;
    // A text unique to this run and hard to guess, usable as a file name.
    virtual TqString GloballyUniqueString() = 0;
    // Creates one private directory (no intermediate ones); false when it exists or cannot be made.
    [[nodiscard]] virtual bool CreateDirectory(const TqString& path) = 0;
    // Copies a file tree to a path that must not exist yet.
    [[nodiscard]] virtual bool CopyItem(const TqString& from, const TqString& to) = 0;
    // Starts an executable with arguments and returns without waiting; false when it cannot start.
    // A backend may instead replace the running process with it (so a terminal or a waiting caller
    // stays with the uninstall); then it returns only when that failed.
    [[nodiscard]] virtual bool LaunchTask(const TqString& path, const Vector<TqString>& arguments) = 0;
    // Brings the application to the front.
    virtual void ActivateIgnoringOtherApps() = 0;

    // The four authorization steps, in the order the flow takes them. FreeAuthorization is called
    // on every path, also when CreateAuthorization failed.
    [[nodiscard]] virtual bool CreateAuthorization() = 0;
    [[nodiscard]] virtual bool AcquireRight(const TqString& rightName) = 0;
    // Starts the tool with administrator rights; its standard output becomes readable.
    [[nodiscard]] virtual bool ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments) = 0;
    virtual void FreeAuthorization() = 0;
    // After CreateAuthorization or AcquireRight failed: true when the user dismissed the prompt
    // (the run ends quietly), false when the rights could not be had (the user is told).
    virtual bool AcquisitionWasCancelled() = 0;

    // Reads up to size bytes of the tool's output; 0 at its end, less than 0 on an error.
    [[nodiscard]] virtual long ReadToolOutput(char* buffer, unsigned long size) = 0;
    // Waits for the tool to end, after its output was read to the end.
    virtual ToolOutcome WaitForTool() = 0;

    // Removes a file tree this run made, such as a copy that failed half-way and the temporary
    // directory it was made in; false when something of it is left.
    [[nodiscard]] virtual bool RemoveItem(const TqString& path) = 0;
    // Settles which removal tool and data files the second phase elevates, given the installed
    // bundle the first phase came from (unset when unknown) and the copy's own files in toolPath,
    // definitionPath and targetPathFile, which it may replace: as root, the copy's files once their
    // folders prove safe; otherwise the installed ones when root alone owns them and can change
    // them. False when nothing may be run (root's copy lies where others can change it).
    [[nodiscard]] virtual bool ChooseFilesToElevate(const TqString& installedBundlePath, TqString& toolPath,
                                      TqString& definitionPath, TqString& targetPathFile) = 0;
    // How far the running tool is, for the user to see: begun once the tool has started, updated
    // as entries are handled (totalEntries may be 0 when unknown), ended before the report. A
    // platform without a progress display does nothing.
    virtual void BeginToolProgress(const TqString& productName, unsigned long totalEntries)
    {
        (void)productName;
        (void)totalEntries;
    }
    virtual void ShowToolProgress(unsigned long handledEntries, const TqString& currentPath)
    {
        (void)handledEntries;
        (void)currentPath;
    }
    virtual void EndToolProgress() {}
};

#endif
