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

// A button to add: its label and the answer the dialog gives when it is pressed.
struct AnswerButton
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
std::vector<AnswerButton> ButtonsLeftToRight(const Alert& alert)
{
    std::vector<AnswerButton> buttons;
    if (alert.otherButton.IsSet())
        buttons.push_back({alert.otherButton, ResponseOther});
    AnswerButton defaultButton{DefaultButtonLabel(alert), ResponseDefault};
    if (!alert.alternateButton.IsSet())
    {
        buttons.push_back(defaultButton);
        return buttons;
    }
    AnswerButton alternate{alert.alternateButton, ResponseAlternate};
    if (IsCancel(alternate.label) && !IsCancel(defaultButton.label))
        std::swap(defaultButton, alternate);
    buttons.push_back(defaultButton);
    buttons.push_back(alternate);
    return buttons;
}

// A plain label, so an underscore in the text is shown rather than taken as a mnemonic.
GtkWidget* AddButton(GtkWidget* dialog, const AnswerButton& answer)
{
    gchar* valid = g_utf8_make_valid(answer.label.ConstData(), static_cast<gssize>(answer.label.Size()));
    GtkWidget* button = gtk_button_new_with_label(valid);
    g_free(valid);
    gtk_widget_set_can_default(button, TRUE);
    gtk_dialog_add_action_widget(GTK_DIALOG(dialog), button, answer.response);
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

// The details list's columns: what a line is about, why, the whole line (for copying) and the
// whole line as markup (for the tooltip, which GTK reads as markup).
enum DetailColumn
{
    ItemColumn,
    ReasonColumn,
    LineColumn,
    TooltipColumn,
    DetailColumnCount
};

gchar* ValidText(const TqString& text)
{
    return g_utf8_make_valid(text.ConstData(), static_cast<gssize>(text.Size()));
}

// Ctrl+C on the list puts the selected lines, each whole, on the clipboard.
gboolean CopySelectedLines(GtkWidget* view, GdkEventKey* event, gpointer)
{
    if ((event->state & GDK_CONTROL_MASK) == 0 || (event->keyval != GDK_KEY_c && event->keyval != GDK_KEY_C))
        return FALSE;
    GtkTreeModel* model = nullptr;
    GList* rows =
        gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), &model);
    GString* text = g_string_new(nullptr);
    for (GList* row = rows; row != nullptr; row = row->next)
    {
        GtkTreeIter iter;
        gchar* line = nullptr;
        if (gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath*>(row->data)))
            gtk_tree_model_get(model, &iter, LineColumn, &line, -1);
        g_string_append_printf(text, "%s%s", line != nullptr ? line : "", row->next != nullptr ? "\n" : "");
        g_free(line);
    }
    g_list_free_full(rows, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    gtk_clipboard_set_text(gtk_widget_get_clipboard(view, GDK_SELECTION_CLIPBOARD), text->str,
                           static_cast<gint>(text->len));
    g_string_free(text, TRUE);
    return TRUE;
}

// One row per line of the details: the item and reason as the alert split them (or the whole line
// as the item), the whole line for copying, and its tooltip.
GtkListStore* DetailRows(const Alert& alert)
{
    GtkListStore* store =
        gtk_list_store_new(DetailColumnCount, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    const TqString& details = alert.details;
    unsigned long start = 0;
    for (unsigned long index = 0; start < details.Size(); ++index)
    {
        unsigned long end = details.IndexOf("\n", start);
        if (end == TqString::maxLen)
            end = details.Size();
        const TqString line = details.Substr(start, end - start);
        start = end + 1;
        const bool split = index < alert.detailLines.size();
        gchar* item = ValidText(split ? alert.detailLines[index].item : line);
        gchar* reason = ValidText(split ? alert.detailLines[index].reason : TqString());
        gchar* whole = ValidText(line);
        gchar* tooltip = g_markup_escape_text(whole, -1);
        GtkTreeIter row;
        gtk_list_store_append(store, &row);
        gtk_list_store_set(store, &row, ItemColumn, item, ReasonColumn, reason, LineColumn, whole,
                           TooltipColumn, tooltip, -1);
        g_free(item);
        g_free(reason);
        g_free(whole);
        g_free(tooltip);
    }
    return store;
}

// The details as a list, one row per line: the item (a long path shortened in its middle, where
// its start and its name stay readable) and the reason beside it. The whole line shows as the
// row's tooltip, and selected rows are copied whole.
GtkWidget* DetailsList(const Alert& alert)
{
    GtkListStore* store = DetailRows(alert);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    const struct
    {
        const char* title;
        int column;
        PangoEllipsizeMode ellipsize;
    } columns[] = {{"Item", ItemColumn, PANGO_ELLIPSIZE_MIDDLE},
                   {"Reason", ReasonColumn, PANGO_ELLIPSIZE_END}};
    for (const auto& layout : columns)
    {
        GtkCellRenderer* text = gtk_cell_renderer_text_new();
        g_object_set(text, "ellipsize", layout.ellipsize, nullptr);
        GtkTreeViewColumn* column =
            gtk_tree_view_column_new_with_attributes(layout.title, text, "text", layout.column, nullptr);
        gtk_tree_view_column_set_resizable(column, TRUE);
        gtk_tree_view_column_set_expand(column, TRUE);
        gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
    }
    gtk_tree_view_set_tooltip_column(GTK_TREE_VIEW(view), TooltipColumn);
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), GTK_SELECTION_MULTIPLE);
    g_signal_connect(view, "key-press-event", G_CALLBACK(CopySelectedLines), nullptr);
    return view;
}

// A "Details" area below the texts, collapsed unless the alert asks for it open.
void AddDetails(GtkWidget* dialog, const Alert& alert)
{
    GtkWidget* expander = gtk_expander_new_with_mnemonic("_Details");
    gtk_expander_set_expanded(GTK_EXPANDER(expander), alert.detailsOpen);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, 560, 160);
    gtk_container_add(GTK_CONTAINER(scrolled), DetailsList(alert));
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
        AddDetails(dialog, alert);

    GtkWidget* defaultButton = nullptr;
    for (const AnswerButton& answer : ButtonsLeftToRight(alert))
    {
        GtkWidget* button = AddButton(dialog, answer);
        if (answer.response == ResponseDefault)
            defaultButton = button;
        else if (alert.kind == AlertKind::Question && !IsCancel(answer.label) &&
                 answer.response != ResponseOther)
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
