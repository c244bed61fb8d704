#include <clocale>
#include <cstring>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "GtkDialog.h"
#include "RunProgram.h"

// Starting GTK must leave the C library's locale alone, whatever the environment asks for. GTK
// sets its locale before it looks for a display, so no display is needed; the check runs in a
// child, as GTK can be started only once per process.
TEST(GtkDialog, StartingGtkKeepsTheCLocale)
{
    const RunProgram::ChildOutcome child = RunProgram::RunInChild(
        [](int output)
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            setenv("LC_ALL", "C.UTF-8", 1);
            (void)InitGtkDialogs(); // the locale is what is looked at, display or not
            const char* locale = std::setlocale(LC_ALL, nullptr);
            ssize_t written = write(output, locale, std::strlen(locale));
            return written > 0 ? 0 : 1; // the child leaves through _exit: GTK's caches are no leaks of ours
        });
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(child.text, "C");
}
