#ifndef TQ_DIALOGS_H
#define TQ_DIALOGS_H

#include <cstdio>
#include <functional>

#include "TqString.h"
#include "UninstallerPlatform.h"

// The dialogs written as text, whole: on standard error (unattended and non-interactive) and at
// the terminal, each with its texts, its details and its answer. Both share the escaped text
// lines and the button order, so they live together; the window is GtkDialog's.

// How alerts reach the user, chosen once per run.
enum class DialogMode
{
    Unattended,    // UNINSTALL_UNATTENDED=1: written to standard error, answered automatically
    Graphical,     // a display is there: a GTK window
    Terminal,      // /dev/tty: printed there, answered by number
    NonInteractive // nothing to ask on: written to standard error, answered with the default button
};

// Unattended when the variable's value is exactly "1"; then neither check runs. Otherwise the
// display is tried before the terminal.
DialogMode ChooseDialogMode(const char* unattendedValue, const std::function<bool()>& displayAvailable,
                            const std::function<bool()>& terminalAvailable);

// The default button's label: its own, or "OK" when the alert has none.
TqString DefaultButtonLabel(const Alert& alert);

// The alert as it is written to standard error: message line, informative line (both with
// control characters and backslash escaped, as EscapeLineText does), the buttons as
// "[default] [alternate] [other]", then, when chosenLabel is set, "-> " and that label, and an
// empty line.
TqString FormatAlert(const Alert& alert, const TqString& chosenLabel);

// The unattended answer: "Uninstall" when that is the alternate button (the confirmation), else the default.
int UnattendedAnswer(const Alert& alert);

// Writes the alert's details, when it has any (the tool's lines, already escaped, then a line
// break), then the alert in FormatAlert's form, and answers it without asking: unattended with
// UnattendedAnswer (and shows the answer), else with the default button.
int RunStreamAlert(FILE* output, const Alert& alert, bool unattended);

// Prints the alert's details, when it has any, then the alert (its texts escaped as in FormatAlert)
// with numbered buttons, and reads the choice from input. An empty line or the end of input answers
// the default button; anything else that is not a button's number asks again. An alert with one
// button asks "Press Enter" and any line closes it. When set, inputReady is asked before each line
// is read: it waits for input and returns false when the dialog is to be answered with its default
// button instead; unset, Ctrl-C answers the default button.
int RunTerminalAlert(FILE* input, FILE* output, const Alert& alert,
                     const std::function<bool()>& inputReady = std::function<bool()>());

// RunTerminalAlert on /dev/tty; when it cannot be opened, RunStreamAlert on standard error,
// answered with the default button. When set, waitForInput is RunTerminalAlert's inputReady
// for the terminal's descriptor.
int RunAlertAtTerminal(const Alert& alert,
                       const std::function<bool(int)>& waitForInput = std::function<bool(int)>());

#endif
