#ifndef TQ_GTKDIALOG_H
#define TQ_GTKDIALOG_H

#include <functional>

#include "UninstallerPlatform.h"

struct _GtkWidget;

// Opens the display for GTK, leaving the C library's locale alone; false when there is none. Call
// once before RunGtkAlert. In a copy relaunched by a process that had opened the display
// (UNINSTALL_WINDOWS_SHOWN=1, set here and inherited), it keeps trying for 5 seconds before it
// gives up, and then says on standard error that the dialogs go there. A display that takes the
// connection but does not finish its handshake within 3 seconds is given up at once, said on
// standard error too.
[[nodiscard]] bool InitGtkDialogs();

// The window title of an alert: the product's name from a "Uninstall <product>" heading (the
// heading itself stays the dialog's primary text), else "Uninstall".
TqString AlertWindowTitle(const Alert& alert);

// Builds, without showing it, the modal GTK message dialog of an alert, laid out as GNOME's
// dialogs are: the message text as primary text, the informative text as secondary text, the
// buttons with "Cancel" left of the affirmative one, which sits at the right end (the other
// button, when there is one, leftmost). The default button is the default response and has the
// focus; closing the window answers it. In a question, the affirmative button is styled as
// destructive. The icon follows the alert's kind (none for information); its details, when set,
// sit in a "Details" area (open when the alert asks) as a list of the lines: item and reason in
// columns, long paths shortened in the middle, selected lines copied whole with Ctrl+C.
_GtkWidget* BuildGtkAlert(const Alert& alert);

// Shows BuildGtkAlert's dialog and returns the alert's code for the button chosen. When
// interrupted turns true (looked at ten times a second) the dialog is answered as if closed.
int RunGtkAlert(const Alert& alert, const std::function<bool()>& interrupted = std::function<bool()>());

#endif
