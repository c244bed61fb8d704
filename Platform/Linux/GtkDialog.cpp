#include "GtkDialog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtk/gtk.h>
#include <unistd.h>

#include "Dialogs.h"
#include "DisplayProbe.h"

namespace
{

// GTK keeps negative response ids for itself, so the alert's codes are mapped onto positive ones.
enum GtkResponse
{
    ResponseDefault = 1,
    ResponseAlternate = 2,
    ResponseOther = 3
};

const char kProductHeadingPrefix[] = "Uninstall ";
// Set once a display opened; a relaunched copy inherits it and knows a display was there.
const char kWindowsShownVariable[] = "UNINSTALL_WINDOWS_SHOWN";
const int kDisplayRetrySeconds = 5;
// A display named in the environment but not answering at once gets a moment too: it may only be
// busy. A stale name costs this much before the dialogs go to the terminal or standard error.
const int kNamedDisplayRetrySeconds = 2;
// How long one try may wait for a display to finish its handshake.
const int kDisplayAnswerSeconds = 3;

bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] != '\0';
}

// The display as the environment names it, for the lines that say it was given up.
const char* DisplayName()
{
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (IsSet(variable))
            return std::getenv(variable);
    return "(unset)";
}

// The icon of the uninstaller's windows, the one its desktop entry names.
const char kApplicationIcon[] = "edit-delete";

struct ButtonSpec
{
    TqString label;
    int response;
};

bool IsCancel(const TqString& label)
{
    return label == TqString("Cancel");
}

// Left to right as GNOME places them: the other button, then Cancel, then the affirmative button
// at the right end. With both a default and an alternate button, whichever is not Cancel is the
// affirmative one (the confirmation's default is Cancel, its alternate "Uninstall").
std::vector<ButtonSpec> ButtonsLeftToRight(const Alert& alert)
{
    std::vector<ButtonSpec> buttons;
    if (alert.otherButton.IsSet())
        buttons.push_back({alert.otherButton, ResponseOther});
    ButtonSpec defaultButton{DefaultButtonLabel(alert), ResponseDefault};
    if (!alert.alternateButton.IsSet())
    {
        buttons.push_back(defaultButton);
        return buttons;
    }
    ButtonSpec alternate{alert.alternateButton, ResponseAlternate};
    if (IsCancel(alternate.label) && !IsCancel(defaultButton.label))
        std::swap(defaultButton, alternate);
    buttons.push_back(defaultButton);
    buttons.push_back(alternate);
    return buttons;
}

// A plain label, so an underscore in the text is shown rather than taken as a mnemonic.
GtkWidget* AddButton(GtkWidget* dialog, const ButtonSpec& spec)
{
    gchar* valid = g_utf8_make_valid(spec.label.ConstData(), static_cast<gssize>(spec.label.Size()));
    GtkWidget* button = gtk_button_new_with_label(valid);
    g_free(valid);
    gtk_widget_set_can_default(button, TRUE);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, spec.response);
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

// The freedesktop icon name of a kind. Information has none in the dialog: GNOME's theme draws
// "dialog-information" as a light bulb, a hint rather than a result, and GNOME's own dialogs show
// plain text for a completion.
const char* IconNameOf(AlertKind kind)
{
    switch (kind)
    {
    case AlertKind::Question:
        return "dialog-question";
    case AlertKind::Information:
        return nullptr;
    case AlertKind::Error:
        break;
    }
    return "dialog-error";
}

// GTK 3 message dialogs no longer show their type's icon by themselves; the image is set for them
// (the call is marked deprecated but is the one way to fill the dialog's own image slot).
void ShowKindIcon(GtkWidget* dialog, AlertKind kind)
{
    gtk_window_set_icon_name(GTK_WINDOW(dialog), kApplicationIcon);
    const char* name = IconNameOf(kind);
    if (name == nullptr)
        return;
    GtkWidget* image = gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_widget_show(image);
}

// A collapsed "Details" area below the texts: a scrolled, read-only view whose lines wrap at the
// window's width (a long path is read whole) and can be selected and copied.
void AddDetails(GtkWidget* dialog, const TqString& details)
{
    GtkWidget* expander = gtk_expander_new_with_mnemonic("_Details");
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, 480, 160);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
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
    // A copy started from a phase that showed windows has no terminal to fall back on, and its
    // display was there a moment ago: a server that is briefly too busy to take a new client
    // (many clients starting at once, a loaded machine) is waited for. GTK opens the display
    // afresh on each call until one succeeds.
    const char* shown = std::getenv(kWindowsShownVariable);
    const bool displayWasThere = shown != nullptr && std::strcmp(shown, "1") == 0;
    const bool displayNamed = IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
    const int retrySeconds = displayWasThere ? kDisplayRetrySeconds
                             : displayNamed  ? kNamedDisplayRetrySeconds
                                             : 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(retrySeconds);
    for (;;)
    {
        // Each try is made first in a child that can be given up: a display that takes the
        // connection and never answers (a stopped server) would otherwise hold gtk_init_check,
        // and the whole run, for ever with no dialog anywhere.
        const DisplayAnswer answer =
            ProbeDisplay(std::chrono::steady_clock::now() + std::chrono::seconds(kDisplayAnswerSeconds));
        if (answer == DisplayAnswer::Silent)
        {
            (void)std::fprintf(
                stderr, "Uninstall: the display %s did not answer for %d seconds; going on without it\n",
                DisplayName(), kDisplayAnswerSeconds);
            return false;
        }
        if (answer == DisplayAnswer::Opened && gtk_init_check(nullptr, nullptr))
        {
            // Inherited by the relaunched copy (pkexec and sudo do not pass it on to the tool).
            setenv(kWindowsShownVariable, "1", 1);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        usleep(100 * 1000);
    }
    if (displayWasThere)
    {
        (void)std::fprintf(stderr,
                           "Uninstall: the display %s could not be opened for %d seconds; the dialogs go to "
                           "standard error\n",
                           DisplayName(), kDisplayRetrySeconds);
    }
    return false;
}

TqString AlertWindowTitle(const Alert& alert)
{
    const TqString prefix(kProductHeadingPrefix);
    if (alert.messageText.Size() > prefix.Size() && alert.messageText.Substr(0, prefix.Size()) == prefix)
        return alert.messageText.Substr(prefix.Size(), alert.messageText.Size() - prefix.Size());
    return TqString("Uninstall");
}

GtkWidget* BuildGtkAlert(const Alert& alert)
{
    gchar* message =
        g_utf8_make_valid(alert.messageText.ConstData(), static_cast<gssize>(alert.messageText.Size()));
    gchar* informative = g_utf8_make_valid(alert.informativeText.ConstData(),
                                           static_cast<gssize>(alert.informativeText.Size()));
    const TqString titleText = AlertWindowTitle(alert);
    gchar* title = g_utf8_make_valid(titleText.ConstData(), static_cast<gssize>(titleText.Size()));
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageTypeOf(alert.kind),
                                               GTK_BUTTONS_NONE, "%s", message);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", informative);
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    g_free(message);
    g_free(informative);
    g_free(title);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    ShowKindIcon(dialog, alert.kind);
    if (alert.details.IsSet())
        AddDetails(dialog, alert.details);

    GtkWidget* defaultButton = nullptr;
    for (const ButtonSpec& spec : ButtonsLeftToRight(alert))
    {
        GtkWidget* button = AddButton(dialog, spec);
        if (spec.response == ResponseDefault)
            defaultButton = button;
        else if (alert.kind == AlertKind::Question && !IsCancel(spec.label) && spec.response != ResponseOther)
            gtk_style_context_add_class(gtk_widget_get_style_context(button), "destructive-action");
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), ResponseDefault);
    gtk_widget_grab_focus(defaultButton);
    return dialog;
}

namespace
{

struct InterruptWatch
{
    GtkWidget* dialog;
    const std::function<bool()>* interrupted;
    bool fired;
};

gboolean CloseWhenInterrupted(gpointer data)
{
    InterruptWatch* watch = static_cast<InterruptWatch*>(data);
    if (!(*watch->interrupted)())
        return G_SOURCE_CONTINUE;
    watch->fired = true;
    gtk_dialog_response(GTK_DIALOG(watch->dialog), GTK_RESPONSE_DELETE_EVENT);
    return G_SOURCE_REMOVE;
}

} // namespace

int RunGtkAlert(const Alert& alert, const std::function<bool()>& interrupted)
{
    GtkWidget* dialog = BuildGtkAlert(alert);
    InterruptWatch watch{dialog, &interrupted, false};
    const guint watchSource = interrupted ? g_timeout_add(100, CloseWhenInterrupted, &watch) : 0;
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (watchSource != 0 && !watch.fired)
        g_source_remove(watchSource);
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
