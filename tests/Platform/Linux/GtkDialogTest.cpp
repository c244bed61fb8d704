#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "GtkDialog.h"
#include "RunProgram.h"
#include "TemporaryFolder.h"
#include "XvfbDisplay.h"

namespace
{

struct WidgetSearch
{
    GType type;
    std::vector<GtkWidget*> found;
};

// Every widget of the type inside widget, the dialog's own internal ones included.
void CollectWidgets(GtkWidget* widget, WidgetSearch& search)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, search.type))
        search.found.push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer data) { CollectWidgets(child, *static_cast<WidgetSearch*>(data)); },
            &search);
}

// The details as shown: whether open, each row's item and reason, how each column shortens what
// does not fit, and what Ctrl+C on all rows puts on the clipboard.
std::string DescribeDetails(GtkWidget* dialog)
{
    WidgetSearch expanders{GTK_TYPE_EXPANDER, {}};
    CollectWidgets(dialog, expanders);
    WidgetSearch lists{GTK_TYPE_TREE_VIEW, {}};
    CollectWidgets(dialog, lists);
    if (expanders.found.size() != 1 || lists.found.size() != 1)
        return expanders.found.empty() && lists.found.empty() ? "" : " details=not one list";
    GtkTreeView* view = GTK_TREE_VIEW(lists.found[0]);
    std::string text =
        gtk_expander_get_expanded(GTK_EXPANDER(expanders.found[0])) ? " details=open" : " details=closed";
    for (guint index = 0; index < gtk_tree_view_get_n_columns(view); ++index)
    {
        GtkTreeViewColumn* column = gtk_tree_view_get_column(view, static_cast<gint>(index));
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        PangoEllipsizeMode mode = PANGO_ELLIPSIZE_NONE;
        if (cells != nullptr)
            g_object_get(cells->data, "ellipsize", &mode, nullptr);
        g_list_free(cells);
        const char* const shortened[] = {"(whole)", "(start)", "(middle)", "(end)"}; // by PangoEllipsizeMode
        text += std::string(" ") + gtk_tree_view_column_get_title(column) + shortened[mode];
    }
    GtkTreeModel* model = gtk_tree_view_get_model(view);
    GtkTreeIter row;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row))
    {
        // The columns shown are the first two; the list has more for copying and the tooltip.
        gchar* item = nullptr;
        gchar* reason = nullptr;
        gtk_tree_model_get(model, &row, 0, &item, 1, &reason, -1);
        text += std::string("\n  [") + item + "] [" + reason + "]";
        g_free(item);
        g_free(reason);
    }
    gtk_tree_selection_select_all(gtk_tree_view_get_selection(view));
    GdkEvent* press = gdk_event_new(GDK_KEY_PRESS);
    press->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(view))));
    press->key.keyval = GDK_KEY_c;
    press->key.state = GDK_CONTROL_MASK;
    gtk_widget_event(GTK_WIDGET(view), press);
    gdk_event_free(press);
    gchar* copied =
        gtk_clipboard_wait_for_text(gtk_widget_get_clipboard(GTK_WIDGET(view), GDK_SELECTION_CLIPBOARD));
    text += std::string("\n  copied: ") + (copied != nullptr ? copied : "(nothing)");
    g_free(copied);
    return text;
}

// The dialog as GTK shows it on the display: title, the visible buttons left to right with their
// role (default response, focus, destructive style), the kind's icon, and the details list.
std::string DescribeShownAlert(const Alert& alert)
{
    GtkWidget* dialog = BuildGtkAlert(alert);
    gtk_widget_show(dialog);
    for (int round = 0; round < 200 && !gtk_widget_get_mapped(dialog); ++round, usleep(10000))
        while (gtk_events_pending())
            gtk_main_iteration();
    while (gtk_events_pending())
        gtk_main_iteration();

    std::string text = std::string("title=") + gtk_window_get_title(GTK_WINDOW(dialog)) + " buttons=";
    WidgetSearch buttons{GTK_TYPE_BUTTON, {}};
    CollectWidgets(dialog, buttons);
    std::vector<std::pair<int, GtkWidget*>> placed;
    for (GtkWidget* button : buttons.found)
        if (gtk_widget_get_mapped(button) && !GTK_IS_EXPANDER(gtk_widget_get_parent(button)) &&
            gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), button) != GTK_RESPONSE_NONE)
        {
            GtkAllocation where;
            gtk_widget_get_allocation(button, &where);
            placed.push_back({where.x, button});
        }
    std::sort(placed.begin(), placed.end());
    for (const auto& entry : placed)
    {
        GtkWidget* button = entry.second;
        text += gtk_button_get_label(GTK_BUTTON(button));
        if (gtk_window_get_default_widget(GTK_WINDOW(dialog)) == button && gtk_widget_has_default(button))
            text += "(default)";
        if (gtk_window_get_focus(GTK_WINDOW(dialog)) == button)
            text += "(focus)";
        if (gtk_style_context_has_class(gtk_widget_get_style_context(button), "destructive-action"))
            text += "(destructive)";
        text += " ";
    }
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_message_dialog_get_image(GTK_MESSAGE_DIALOG(dialog));
    G_GNUC_END_IGNORE_DEPRECATIONS
    const gchar* icon = nullptr;
    if (image != nullptr && gtk_widget_get_mapped(image) &&
        gtk_image_get_storage_type(GTK_IMAGE(image)) == GTK_IMAGE_ICON_NAME)
        gtk_image_get_icon_name(GTK_IMAGE(image), &icon, nullptr);
    text += std::string("icon=") + (icon != nullptr ? icon : "none");
    text += DescribeDetails(dialog);
    gtk_widget_destroy(dialog);
    return text;
}

} // namespace

// The dialogs follow GNOME's layout, read back from GTK on a real (virtual) display: Cancel left
// of the affirmative button, Cancel the default and focused, the affirmative one destructive; the
// title the product; no light bulb for a completion; details a list of item and reason, closed
// unless asked open, long paths shortened in the middle, lines copied whole. Starting GTK leaves the C
// library's locale alone, whatever the environment asks for.
TEST(GtkDialog, GnomeLayoutReadBackOnADisplay)
{
    TemporaryFolder folder;
    XvfbDisplay xvfb(folder.path());
    if (xvfb.display().empty())
        GTEST_SKIP() << xvfb.why();
    Alert alerts[4];
    alerts[0].messageText = alerts[1].messageText = alerts[3].messageText = "Uninstall Demo Product";
    alerts[0].informativeText = "Do you wish to remove Demo Product and all related components?";
    alerts[0].defaultButton = "Cancel";
    alerts[0].alternateButton = "Uninstall";
    alerts[0].kind = AlertKind::Question;
    alerts[1].informativeText = "Uninstallation completed successfully.";
    alerts[1].kind = AlertKind::Information;
    alerts[1].details =
        "kept /opt/Demo Product/Application Support/A very long folder name/Settings: marked to keep";
    alerts[1].detailLines.push_back(
        {"kept /opt/Demo Product/Application Support/A very long folder name/Settings", "marked to keep"});
    // A line the list was not given split (a message) shows whole, in the first column.
    alerts[3].informativeText = "Uninstallation failed. Some components may not have been removed.";
    alerts[3].details = "failed /opt/Demo Product/<b>lib</b>: Operation not permitted: it has the immutable "
                        "flag, which chattr -i clears\nwaiting for another removal of /opt/Demo Product";
    alerts[3].detailLines.push_back(
        {"failed /opt/Demo Product/<b>lib</b>",
         "Operation not permitted: it has the immutable flag, which chattr -i clears"});
    alerts[3].detailsOpen = true;
    alerts[2].messageText = "Configuration Error";
    alerts[2].informativeText = "Configuration file Uninstall.plist not found in application bundle.";
    alerts[2].kind = AlertKind::Error;

    const std::string display = xvfb.display();
    const RunProgram::ChildOutcome child = RunProgram::RunInChild( // GTK starts only once per process
        [&](int output)
        {
            setenv("DISPLAY", display.c_str(), 1);
            setenv("GDK_BACKEND", "x11", 1);
            setenv("NO_AT_BRIDGE", "1", 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            if (!InitGtkDialogs())
                return 1;
            std::string text = std::string("locale=") + std::setlocale(LC_ALL, nullptr) + "\n";
            for (const Alert& alert : alerts)
                text += DescribeShownAlert(alert) + "\n";
            return write(output, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1;
        });
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(
        child.text,
        "locale=C\n"
        "title=Demo Product buttons=Cancel(default)(focus) Uninstall(destructive) icon=dialog-question\n"
        "title=Demo Product buttons=OK(default)(focus) icon=none details=closed Item(middle) Reason(end)\n"
        "  [kept /opt/Demo Product/Application Support/A very long folder name/Settings] [marked to keep]\n"
        "  copied: kept /opt/Demo Product/Application Support/A very long folder name/Settings: marked to "
        "keep\n"
        "title=Uninstall buttons=OK(default)(focus) icon=dialog-error\n"
        "title=Demo Product buttons=OK(default)(focus) icon=dialog-error details=open Item(middle) "
        "Reason(end)\n"
        "  [failed /opt/Demo Product/<b>lib</b>] [Operation not permitted: it has the immutable flag, which "
        "chattr -i clears]\n"
        "  [waiting for another removal of /opt/Demo Product] []\n"
        "  copied: failed /opt/Demo Product/<b>lib</b>: Operation not permitted: it has the immutable flag, "
        "which chattr -i clears\nwaiting for another removal of /opt/Demo Product\n");
}

// A display that cannot take a client yet is waited for rather than given up at once: long by a copy
// relaunched from a phase that had windows (a desktop user sees nothing on standard error), a
// moment by a first phase whose display is named. The display comes once the first try has
// failed: each try is a child of the one asking, so the first has failed when one has been reaped
// (the kernel adds a reaped child's page faults to its parent's "cminflt").
TEST(GtkDialog, ABusyDisplayIsWaitedFor)
{
    for (const char* windowsShown : {"1", static_cast<const char*>(nullptr)})
    {
        SCOPED_TRACE(windowsShown != nullptr ? "after windows were shown" : "display named");
        TemporaryFolder folder;
        const int number = XvfbDisplay::FreeNumber();
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const pid_t child = fork();
        if (child == 0)
        {
            setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
            setenv("GDK_BACKEND", "x11", 1);
            if (windowsShown != nullptr)
                setenv("UNINSTALL_WINDOWS_SHOWN", windowsShown, 1);
            else
                unsetenv("UNINSTALL_WINDOWS_SHOWN");
            const char* answer = InitGtkDialogs() ? "opened" : "gave up";
            _exit(write(ends[1], answer, std::strlen(answer)) > 0 ? 0 : 1);
        }
        close(ends[1]);
        const auto aTryWasReaped = [child]
        {
            const std::string stat = TemporaryFolder::ReadFile("/proc/" + std::to_string(child) + "/stat");
            std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
            std::string skipped; // state ppid pgrp session tty_nr tpgid flags minflt
            for (int field = 0; field < 8; ++field)
                fields >> skipped;
            unsigned long childFaults = 0;
            return static_cast<bool>(fields >> childFaults) && childFaults > 0;
        };
        EXPECT_TRUE(RunProgram::WaitUntil(aTryWasReaped, 10, 5000)) << "no try was made";
        XvfbDisplay xvfb(folder.path(), number);
        bool complete = false;
        const std::string answer = RunProgram::ReadToEnd(ends[0], 20, &complete);
        close(ends[0]);
        RunProgram::WaitForExit(child, 10);
        if (xvfb.display().empty())
            GTEST_SKIP() << xvfb.why();
        EXPECT_EQ(answer, "opened");
    }
}

// A display that takes the connection and never answers (a stopped server) is given up within the
// bound, as one that is not there, and said so. Here it is a socket at the display's path, in a
// /tmp of the test's own, that nobody reads: the kernel queues the connection, the handshake waits.
TEST(GtkDialog, ADisplayThatNeverAnswersIsGivenUpWithinTheBound)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    const std::string display = ":" + std::to_string(XvfbDisplay::FreeNumber());
    const RunProgram::ChildOutcome outcome = RunProgram::RunInChild(
        [&display](int output)
        {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0 || mkdir("/tmp/.X11-unix", 01777) != 0)
                return 3;
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, ("/tmp/.X11-unix/X" + display.substr(1)).c_str());
            const int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                listen(silent, 8) != 0)
                return 3;
            setenv("DISPLAY", display.c_str(), 1);
            setenv("GDK_BACKEND", "x11", 1);
            unsetenv("UNINSTALL_WINDOWS_SHOWN");
            if (dup2(output, STDERR_FILENO) != STDERR_FILENO)
                return 3;
            std::fputs(InitGtkDialogs() ? "opened\n" : "gave up\n", stderr);
            return 0;
        },
        30);
    ASSERT_TRUE(outcome.waitStatus.has_value()) << "still waiting for the display after 30 s";
    ASSERT_TRUE(WIFEXITED(*outcome.waitStatus));
    ASSERT_EQ(WEXITSTATUS(*outcome.waitStatus), 0) << "could not set up the silent display";
    EXPECT_EQ(outcome.text, "Uninstall: the display " + display +
                                " did not answer for 3 seconds; going on without it\ngave up\n");
}
