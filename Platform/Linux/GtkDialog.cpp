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

GtkMessageType MessageTypeOf(AlertKind kind)
{
    switch (kind)
    {
    case AlertKind::Question:
        return GTK_MESSAGE_QUESTION;
    case AlertKind::Information:
        return GTK_MESSAGE_INFO;
    case AlertKind::Error:
        break;
    }
    return GTK_MESSAGE_ERROR;
}

const char* IconNameOf(AlertKind kind)
{
    switch (kind)
    {
    case AlertKind::Question:
        return "dialog-question";
    case AlertKind::Information:
        return "dialog-information";
    case AlertKind::Error:
        break;
    }
    return "dialog-error";
}

// GTK 3 message dialogs no longer show their type's icon by themselves; the image is set for them
// (the call is marked deprecated but is the one way to fill the dialog's own image slot).
void ShowKindIcon(GtkWidget* dialog, AlertKind kind)
{
    GtkWidget* image = gtk_image_new_from_icon_name(IconNameOf(kind), GTK_ICON_SIZE_DIALOG);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_widget_show(image);
    gtk_window_set_icon_name(GTK_WINDOW(dialog), IconNameOf(kind));
}

// A collapsed "Details" area below the texts, holding the lines in a scrolled, read-only view.
void AddDetails(GtkWidget* dialog, const TqString& details)
{
    GtkWidget* expander = gtk_expander_new_with_mnemonic("_Details");
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, 480, 160);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    gchar* valid = g_utf8_make_valid(details.ConstData(), static_cast<gssize>(details.Size()));
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), valid, -1);
    g_free(valid);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_container_add(GTK_CONTAINER(expander), scrolled);
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    gtk_box_pack_end(GTK_BOX(area), expander, TRUE, TRUE, 0);
    gtk_widget_show_all(expander);
}

} // namespace

bool InitGtkDialogs()
{
    // Texts are shown as they are; the C library's locale stays "C" for the whole program.
    gtk_disable_setlocale();
    return gtk_init_check(nullptr, nullptr);
}

int RunGtkAlert(const Alert& alert)
{
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageTypeOf(alert.kind),
                                               GTK_BUTTONS_NONE, "%s", alert.messageText.ConstData());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                             alert.informativeText.ConstData());
    gtk_window_set_title(GTK_WINDOW(dialog), alert.messageText.ConstData());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    ShowKindIcon(dialog, alert.kind);
    if (alert.details.IsSet())
        AddDetails(dialog, alert.details);

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
