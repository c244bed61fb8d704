#include <clocale>
#include <cstring>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "GtkDialog.h"

// Starting GTK must leave the C library's locale alone, whatever the environment asks for. GTK
// sets its locale before it looks for a display, so no display is needed; the check runs in a
// child, as GTK can be started only once per process.
TEST(GtkDialog, StartingGtkKeepsTheCLocale)
{
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("LC_ALL", "C.UTF-8", 1);
        (void)InitGtkDialogs(); // the locale is what is looked at, display or not
        const char* locale = std::setlocale(LC_ALL, nullptr);
        ssize_t written = write(result[1], locale, std::strlen(locale));
        _exit(written > 0 ? 0 : 1); // _exit: GTK's caches are no leaks of ours
    }
    close(result[1]);
    char buffer[256];
    ssize_t got = read(result[0], buffer, sizeof buffer);
    close(result[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "C");
}
