#ifndef TQ_GTKDIALOG_H
#define TQ_GTKDIALOG_H

#include "UninstallerPlatform.h"

// Opens the display for GTK; false when there is none. Call once before RunGtkAlert.
bool InitGtkDialogs();

// A modal GTK message dialog: the message text as its title and primary text, the informative
// text as secondary text, buttons left to right other, alternate, default. The default button has
// the focus, and closing the window answers it.
int RunGtkAlert(const Alert& alert);

#endif
