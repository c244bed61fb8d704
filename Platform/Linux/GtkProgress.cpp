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

void ShowCount(GtkWidget* bar, unsigned long handled, unsigned long total)
{
    char text[96];
    (void)std::snprintf(text, sizeof text, "%lu of %lu entries", handled, total);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text);
    gtk_progress_bar_set_fraction(
        GTK_PROGRESS_BAR(bar), total == 0 ? 0.0 : static_cast<double>(handled) / static_cast<double>(total));
}

} // namespace

// The window's heading, bar and current-path line; the bar and the path line are kept for updates.
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

    bar = gtk_progress_bar_new();
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(bar), TRUE);
    ShowCount(bar, 0, total);

    pathLabel = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(pathLabel), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(pathLabel), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_width_chars(GTK_LABEL(pathLabel), 50);

    gtk_box_pack_start(GTK_BOX(box), heading, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), pathLabel, FALSE, FALSE, 0);
    return box;
}

void GtkProgressWindow::Open(const TqString& productName, unsigned long totalEntries)
{
    Close();
    total = totalEntries;
    TqString title = TqString("Removing ") + productName;
    gchar* validTitle = g_utf8_make_valid(title.ConstData(), static_cast<gssize>(title.Size()));

    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), validTitle);
    gtk_window_set_default_size(GTK_WINDOW(window), 440, -1);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
    // A started removal runs to its end; closing the window would only hide how far it is.
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
    g_signal_connect(window, "delete-event", G_CALLBACK(gtk_true), nullptr);

    gtk_container_add(GTK_CONTAINER(window), Contents(validTitle));
    g_free(validTitle);
    gtk_widget_show_all(window);
    throttle.Reset();
    lastLine = throttle.Now();
    pulseSource = g_timeout_add(kPulseIntervalMilliseconds, PulseWhileQuiet, this);
    HandlePendingEvents();
}

int GtkProgressWindow::PulseWhileQuiet(void* self)
{
    auto* progress = static_cast<GtkProgressWindow*>(self);
    if (progress->bar != nullptr && progress->throttle.Now() - progress->lastLine >= kQuietBeforePulse)
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(progress->bar));
    return G_SOURCE_CONTINUE;
}

void GtkProgressWindow::Update(unsigned long handledEntries, const TqString& currentPath)
{
    if (window == nullptr)
        return;
    if (handledEntries > total)
        total = handledEntries;
    lastLine = throttle.Now();
    if (!throttle.Due())
        return;
    ShowCount(bar, handledEntries, total);
    SetLabelText(pathLabel, currentPath);
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
    pathLabel = nullptr;
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
