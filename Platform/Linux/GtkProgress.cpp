#include "GtkProgress.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <gtk/gtk.h>
#include <poll.h>

namespace
{

// How long one wait on the tool's output lasts before GTK's events are handled again.
const int kEventIntervalMilliseconds = 50;
// How long the tool may be quiet before the bar pulses, and how often it pulses then.
const auto kQuietBeforePulse = std::chrono::milliseconds(300);
const unsigned int kPulseIntervalMilliseconds = 100;

void HandlePendingEvents()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

// GTK shows only UTF-8; the tool's lines are, but nothing here relies on it.
void SetLabelText(GtkWidget* label, const TqString& text)
{
    gchar* valid = g_utf8_make_valid(text.ConstData(), static_cast<gssize>(text.Size()));
    gtk_label_set_text(GTK_LABEL(label), valid);
    g_free(valid);
}

const char kCancellingText[] = "; cancelling once the entry under way is finished";

} // namespace

// The window's heading, bar, count and current-path line over a Cancel button; all but the heading
// are kept for updates.
GtkWidget* GtkProgressWindow::Contents(const char* title)
{
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    GtkWidget* heading = gtk_label_new(nullptr);
    gchar* markup = g_markup_printf_escaped("<b>%s</b>", title);
    gtk_label_set_markup(GTK_LABEL(heading), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(heading), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(heading), PANGO_ELLIPSIZE_END);

    // The count is a label of its own: the theme draws a bar's text faded.
    bar = gtk_progress_bar_new();
    countLabel = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(countLabel), 0.0f);

    pathLabel = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(pathLabel), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(pathLabel), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_width_chars(GTK_LABEL(pathLabel), 50);

    cancelButton = gtk_button_new_with_label("Cancel");
    g_signal_connect(cancelButton, "clicked", G_CALLBACK(CancelClicked), this);
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_container_add(GTK_CONTAINER(buttons), cancelButton);

    gtk_box_pack_start(GTK_BOX(box), heading, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), countLabel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), pathLabel, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 4);
    return box;
}

void GtkProgressWindow::Open(const TqString& productName, unsigned long totalEntries, std::function<void()> onCancel)
{
    Close();
    total = totalEntries;
    handled = 0;
    shownText = TqString();
    cancel = std::move(onCancel);
    cancelling = false;
    TqString title = TqString("Removing ") + productName;
    gchar* validTitle = g_utf8_make_valid(title.ConstData(), static_cast<gssize>(title.Size()));

    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), validTitle);
    gtk_window_set_default_size(GTK_WINDOW(window), 440, -1);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
    // Closing the window is a Cancel; it stays open to show the removal stopping.
    g_signal_connect(window, "delete-event", G_CALLBACK(CloseAsked), this);

    gtk_container_add(GTK_CONTAINER(window), Contents(validTitle));
    g_free(validTitle);
    drawn = false;
    Draw();
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(cancelButton);
    throttle.Reset();
    lastLine = throttle.Now();
    pulseSource = g_timeout_add(kPulseIntervalMilliseconds, PulseWhileQuiet, this);
    HandlePendingEvents();
}

int GtkProgressWindow::PulseWhileQuiet(void* self)
{
    auto* progress = static_cast<GtkProgressWindow*>(self);
    // A frame the throttle held back is drawn now: the tool may say nothing more for a while.
    if (!progress->drawn)
        progress->Draw();
    if (progress->bar != nullptr && progress->throttle.Now() - progress->lastLine >= kQuietBeforePulse)
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress->bar));
    return G_SOURCE_CONTINUE;
}

void GtkProgressWindow::CancelClicked(GtkWidget*, void* self)
{
    static_cast<GtkProgressWindow*>(self)->Cancel();
}

int GtkProgressWindow::CloseAsked(GtkWidget*, void*, void* self)
{
    static_cast<GtkProgressWindow*>(self)->Cancel();
    return TRUE;
}

void GtkProgressWindow::Cancel()
{
    if (cancelling)
        return;
    cancelling = true;
    gtk_widget_set_sensitive(cancelButton, FALSE);
    drawn = false;
    Draw();
    if (cancel)
        cancel();
}

void GtkProgressWindow::Update(unsigned long handledEntries, const TqString& currentPath, const TqString& activity)
{
    if (window == nullptr)
        return;
    if (handledEntries > total)
        total = handledEntries;
    handled = handledEntries;
    shownText = activity.IsSet() ? TqString("Removing ") + activity : currentPath;
    drawn = false;
    lastLine = throttle.Now();
    if (throttle.Due())
        Draw();
}

void GtkProgressWindow::Draw()
{
    char count[160];
    (void)std::snprintf(count, sizeof count, "%lu of %lu entries%s", handled, total,
                        cancelling ? kCancellingText : "");
    gtk_label_set_text(GTK_LABEL(countLabel), count);
    gtk_progress_bar_set_fraction(
        GTK_PROGRESS_BAR(bar), total == 0 ? 0.0 : static_cast<double>(handled) / static_cast<double>(total));
    SetLabelText(pathLabel, shownText);
    drawn = true;
}

void GtkProgressWindow::Close()
{
    if (window == nullptr)
        return;
    if (pulseSource != 0)
        g_source_remove(pulseSource);
    pulseSource = 0;
    gtk_widget_destroy(window);
    window = nullptr;
    bar = nullptr;
    countLabel = nullptr;
    pathLabel = nullptr;
    cancelButton = nullptr;
    cancel = nullptr;
    HandlePendingEvents();
}

void WaitForInputHandlingGtkEvents(int fd)
{
    if (fd < 0)
        return;
    for (;;)
    {
        HandlePendingEvents();
        pollfd watched = {fd, POLLIN, 0};
        int ready = poll(&watched, 1, kEventIntervalMilliseconds);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return;
    }
}
