#include "GtkDialog.h"

#include <gtk/gtk.h>

#include "Dialogs.h"

namespace
{

// GTK keeps negative response ids for itself, so the alert's codes are mapped onto positive ones.
enum GtkResponse
{
    ResponseDefault = 1,
    ResponseAlternate = 2,
    ResponseOther = 3
};

// A plain label, so an underscore in the text is shown rather than taken as a mnemonic.
GtkWidget* AddButton(GtkWidget* dialog, const TqString& label, int response)
{
    GtkWidget* button = gtk_button_new_with_label(label.ConstData());
    gtk_widget_set_can_default(button, TRUE);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, response);
    gtk_widget_show(button);
    return button;
}

} // namespace

bool InitGtkDialogs()
{
    return gtk_init_check(nullptr, nullptr);
}

int RunGtkAlert(const Alert& alert)
{
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                               GTK_BUTTONS_NONE, "%s", alert.messageText.ConstData());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             alert.informativeText.ConstData());
    gtk_window_set_title(GTK_WINDOW(dialog), alert.messageText.ConstData());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);

    if (alert.otherButton.IsSet())
        AddButton(dialog, alert.otherButton, ResponseOther);
    if (alert.alternateButton.IsSet())
        AddButton(dialog, alert.alternateButton, ResponseAlternate);
    GtkWidget* defaultButton = AddButton(dialog, DefaultButtonLabel(alert), ResponseDefault);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), ResponseDefault);
    gtk_widget_grab_focus(defaultButton);

    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    while (gtk_events_pending())
        gtk_main_iteration();

    switch (response)
    {
    case ResponseAlternate:
        return AlertAlternateReturn;
    case ResponseOther:
        return AlertOtherReturn;
    default: // the default button, or the window closed
        return AlertDefaultReturn;
    }
}
