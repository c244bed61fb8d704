#ifndef TQ_GTKDIALOG_H
#define TQ_GTKDIALOG_H

#include "UninstallerPlatform.h"

// Opens the display for GTK, leaving the C library's locale alone; false when there is none. Call
// once before RunGtkAlert.
[[nodiscard]] bool InitGtkDialogs();

// A modal GTK message dialog: the message text as its title and primary text, the informative
// text as secondary text, buttons left to right other, alternate, default. The default button has
// the focus, and closing the window answers it. The icon follows the alert's kind; its details,
// when set, sit in a collapsed "Details" area.
int RunGtkAlert(const Alert& alert);

#endif
