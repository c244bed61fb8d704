#ifndef TQ_UNINSTALLERPLATFORM_H
#define TQ_UNINSTALLERPLATFORM_H

#include "Status.h"
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
    // Lines shown on request beside the texts (what a failed run could not remove and why, what was
    // kept); unset for none. The graphical and terminal dialogs show them beside the texts; where
    // dialogs go to standard error they are written before the dialog, whose format stays fixed.
    TqString details;
    // The details line by line, split where a line tells of one item: what it is about (the
    // word and path, or the whole line when it tells of no item) and why (unset for none). A
    // window shows them as a list; empty when the details are plain text.
    struct DetailLine
    {
        TqString item;
        TqString reason;
    };
    Vector<DetailLine> detailLines;
    // Whether the details are shown without being asked for (something failed).
    bool detailsOpen = false;
};

// The answers of an alert, as the flow compares them.
enum AlertReturn
{
    AlertDefaultReturn = 1,
    AlertAlternateReturn = 0,
    AlertOtherReturn = -1
};

// How the removal tool ended once its output had closed.
enum class ToolOutcome
{
    Succeeded,            // exit status 0
    Failed,               // status 1 or another the tool does not give, or killed by a signal
    NothingRemoved,       // status 2: the tool refused its command line, inputs or lock; nothing removed
    NotFound,             // status 3: nothing the definition lists was under the target; nothing removed
    Cancelled,            // status 4, or an interruption ended it (or the prompt before it): nothing removed
    AuthorizationRefused, // the user dismissed the password prompt: the run ends quietly
    RightsNotObtained,    // no way to ask for rights, or they were refused: the user is told
    Restarted             // the elevation program could not ask; the tool was started again another
                          // way and its output is readable anew
};

// How the removal tool ended, with why when the rights could not be had.
struct ToolEnding
{
    ToolOutcome outcome = ToolOutcome::Failed;
    // With RightsNotObtained: one line saying why, in the words of the program that was asked
    // when it said any; unset when the reason is the last lines of the tool's output (an
    // elevation program writes there).
    TqString rightsReason;
    // With RightsNotObtained: in plain words, whether nobody could be asked or the answer was no,
    // and what to do; unset when the platform cannot tell.
    TqString rightsAdvice;
};

// The installed bundle's removal tool and its two data files.
struct InstalledFiles
{
    TqString tool;
    TqString definition;
    TqString targetPathFile;
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
    // The user's temporary directory; when there is none that will do, why (one line per place tried).
    virtual Result<TqString> TemporaryDirectory() = 0;
    // A text unique to this run and hard to guess, usable as a file name.
    virtual TqString GloballyUniqueString() = 0;
    // Creates one private directory (no intermediate ones); fails when it exists or cannot be made.
    virtual Status CreateDirectory(const TqString& path) = 0;
    // Copies a file tree to a path that must not exist yet.
    virtual Status CopyItem(const TqString& from, const TqString& to) = 0;
    // Starts an executable with arguments and returns without waiting. A backend may instead
    // replace the running process with it (so a terminal or a waiting caller stays with the
    // uninstall); then it returns only when that failed.
    virtual Status LaunchTask(const TqString& path, const Vector<TqString>& arguments) = 0;
    // Brings the application to the front.
    virtual void ActivateIgnoringOtherApps() = 0;

    // From the first phase's confirmation up to its relaunch, an interruption (INT, TERM, HUP,
    // QUIT) no longer ends the process but asks it to stop: the dialog then open is answered with
    // its default button, a copy under way ends, and StopWasRequested says so from then on. A
    // platform without such interruptions does nothing.
    virtual void CatchStopRequests() {}
    virtual bool StopWasRequested() { return false; }
    // Removes the run folders that earlier runs of this user left in the temporary directory
    // (ended by SIGKILL or a power cut), each only when it provably is one and its process is gone.
    virtual void RemoveAbandonedRunFolders() {}

    // The four authorization steps, in the order the flow takes them. FreeAuthorization is called
    // on every path, also when CreateAuthorization failed. A failed step is cancelled
    // (IsCancelled) when the user interrupted the prompt: nothing was removed. Otherwise the
    // rights could not be had, and its message says why in one line, in the words of the program
    // that was asked when it said any.
    virtual Status CreateAuthorization() = 0;
    virtual Status AcquireRight(const TqString& rightName) = 0;
    // Starts the tool with the rights settled for the installation; its standard output and error
    // become readable as one stream.
    virtual Status ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments) = 0;
    virtual void FreeAuthorization() = 0;

    // Reads up to size bytes of the tool's output; 0 at its end, less than 0 on an error.
    [[nodiscard]] virtual long ReadToolOutput(char* buffer, unsigned long size) = 0;
    // Waits for the tool to end, after its output was read to the end.
    virtual ToolEnding WaitForTool() = 0;

    // Removes a file tree this run made, such as a copy that failed half-way and the temporary
    // directory it was made in; failed, saying what is left, when something of it is.
    virtual Status RemoveItem(const TqString& path) = 0;
    // Removes the temporary directory the running copy of the bundle lies in (the parent of
    // BundlePath), when it is one this program makes; failed when it is none, or something of it
    // is left.
    virtual Status RemoveRunningCopy() = 0;
    // Given the installed bundle's removal tool and data files, their real paths; fails when one
    // of them is not there. The platform also settles here whether the tool needs administrator
    // rights: only when root alone controls the installation.
    virtual Result<InstalledFiles> FindInstalledFiles(const InstalledFiles& named) = 0;
    // Leaves a record in the system log that the uninstaller refused to go on, with line saying
    // why, naming who asked. A platform without a system log does nothing.
    virtual void RecordRefusal(const TqString& line) { (void)line; }
    // Before anything is copied or run: failed, with one line that says why and what to do, when
    // this process has administrator rights and the installation (the running program and each
    // of installedPaths, with every folder above each) is not controlled by the administrator
    // alone. Done for any other process.
    virtual Status CheckRootMayRunInstallation(const Vector<TqString>& installedPaths) = 0;
    // Whether the progress below is shown to anyone: the entries are counted for it only then (a
    // large product's count costs a read of its whole definition).
    virtual bool ShowsToolProgress() { return true; }
    // How far the running tool is, for the user to see: begun once the tool has started, updated
    // as entries are handled (totalEntries may be 0 when unknown), ended before the report. A
    // platform without a progress display does nothing.
    virtual void BeginToolProgress(const TqString& productName, unsigned long totalEntries)
    {
        (void)productName;
        (void)totalEntries;
    }
    // activity: the entry being removed now and how far the removal is inside it, when the tool
    // said so ("Plug-Ins/Big.bundle — 12,480 items removed"); unset otherwise.
    virtual void ShowToolProgress(unsigned long handledEntries, const TqString& currentPath,
                                  const TqString& activity)
    {
        (void)handledEntries;
        (void)currentPath;
        (void)activity;
    }
    virtual void EndToolProgress() {}
    // The tool waits for another removal of the same target before it removes anything: its line,
    // as it wrote it, the moment it arrives. The progress shows it too; a platform that shows no
    // progress says it here, so that whoever reads the run sees at once why it is quiet.
    virtual void ShowToolWaiting(const TqString& line) { (void)line; }
};

#endif
