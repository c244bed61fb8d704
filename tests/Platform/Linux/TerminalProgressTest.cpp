#include <cstdio>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "RunProgram.h"
#include "TerminalProgress.h"

namespace
{

// A clock that moves only when the test says so.
struct TestClock
{
    std::chrono::steady_clock::time_point now{};
    RedrawThrottle::Clock Reader()
    {
        return [this] { return now; };
    }
};

// Drives one progress line through the counts, the clock advancing step milliseconds before each,
// and returns what reached the terminal (a pipe here).
std::string Printed(const TqString& product, unsigned long total, std::initializer_list<unsigned long> counts,
                    int step = 150, const TqString& said = TqString())
{
    int ends[2];
    if (pipe(ends) != 0)
        return "no pipe";
    FILE* out = fdopen(ends[1], "w");
    TestClock clock;
    TerminalProgress progress(clock.Reader());
    progress.Show(1); // before Begin: nothing to write to
    progress.Begin(out, product, total);
    if (said.IsSet())
    {
        progress.Say(said);
        progress.Say(said); // once per text
    }
    for (unsigned long count : counts)
    {
        clock.now += std::chrono::milliseconds(step);
        progress.Show(count);
    }
    progress.End();
    progress.Show(9); // after End: nothing more
    progress.End();
    std::fclose(out);
    bool complete = false;
    const std::string text = RunProgram::ReadToEnd(ends[0], 5, &complete);
    close(ends[0]);
    return text;
}

} // namespace

TEST(TerminalProgress, OneLineRewrittenWhenTheCountMoves)
{
    EXPECT_EQ(Printed("Demo 100% Product", 3, {1, 1, 2, 3}),
              "\rRemoving Demo 100% Product: 1 of 3 entries"
              "\rRemoving Demo 100% Product: 2 of 3 entries"
              "\rRemoving Demo 100% Product: 3 of 3 entries\n");
    // Nothing handled, no line: the terminal is left as the elevation program left it.
    EXPECT_EQ(Printed("Demo", 3, {}), "");
    // Lines the count did not foresee raise the total; a name cannot break or steer the line.
    EXPECT_EQ(Printed("Evil\r\x1b[2J\\", 1, {2}), "\rRemoving Evil\\x0D\\x1B[2J\\\\: 2 of 2 entries\n");
    // Within a tenth of a second only the first count is drawn; the end draws the last one.
    EXPECT_EQ(Printed("Demo", 4, {1, 2, 3}, 30),
              "\rRemoving Demo: 1 of 4 entries\rRemoving Demo: 3 of 4 entries\n");
    // What the removal waits for stands in for the count until the first entry, which covers it.
    EXPECT_EQ(Printed("Demo", 2, {1}, 150, "waiting for another removal of /t"),
              "\rRemoving Demo: waiting for another removal of /t"
              "\rRemoving Demo: 1 of 2 entries" +
                  std::string(19, ' ') + "\n");
}

// Inside a large bundle the line shows it and its running count before the entries, and the last
// frame a redraw skipped is drawn when asked (the tool has gone quiet) and only then.
TEST(TerminalProgress, TheEntryBeingRemovedAndItsRunningCountLeadTheLine)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FILE* out = fdopen(ends[1], "w");
    TestClock clock;
    TerminalProgress progress(clock.Reader());
    progress.Begin(out, "Tq", 27);
    progress.Show(2);
    progress.Show(2, "Plug-Ins/Big.bundle \xE2\x80\x94 64 items removed"); // within the tenth: skipped
    progress.DrawSkipped();
    progress.DrawSkipped(); // nothing more to draw
    clock.now += std::chrono::milliseconds(150);
    progress.Show(2, "Plug-Ins/Big.bundle \xE2\x80\x94 12,480 items removed");
    clock.now += std::chrono::milliseconds(150);
    progress.Show(3);
    progress.End();
    std::fclose(out);
    bool complete = false;
    const std::string text = RunProgram::ReadToEnd(ends[0], 5, &complete);
    close(ends[0]);
    EXPECT_EQ(text, "\rRemoving Tq: 2 of 27 entries"
                    "\rRemoving Tq: Plug-Ins/Big.bundle \xE2\x80\x94 64 items removed; 2 of 27 entries"
                    "\rRemoving Tq: Plug-Ins/Big.bundle \xE2\x80\x94 12,480 items removed; 2 of 27 entries"
                    "\rRemoving Tq: 3 of 27 entries" +
                        std::string(44, ' ') + "\n");
}

// On a narrow terminal the entry's path gives up its start, so the line never wraps (a carriage
// return would then redraw only its last row) and the count stays whole.
TEST(TerminalProgress, TheLineKeepsWithinTheTerminalsWidth)
{
    int master = -1;
    int slave = -1;
    winsize size = {};
    size.ws_col = 72;
    size.ws_row = 24;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    termios settings;
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    cfmakeraw(&settings);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    FILE* terminal = fdopen(slave, "w");
    TestClock clock;
    TerminalProgress progress(clock.Reader());
    progress.Begin(terminal, "Tq", 27);
    progress.Show(3, "Plug-Ins/Effects/Reverb/Big \xC3\xA9 Hall.bundle \xE2\x80\x94 12,480 items removed");
    progress.End();
    std::fclose(terminal);
    bool complete = false;
    const std::string text = RunProgram::ReadToEnd(master, 5, &complete);
    close(master);
    // 71 columns: the ellipsis and the path's last code points, the "é" whole.
    EXPECT_EQ(text, "\rRemoving Tq: \xE2\x80\xA6" "Big \xC3\xA9 Hall.bundle \xE2\x80\x94 12,480 items removed; "
                    "3 of 27 entries\n");
}

// A terminal stopped with Ctrl-S never holds the progress up (the tool's output keeps being read);
// in a child, so that a blocked write shows as a child that never finishes.
TEST(TerminalProgress, StoppedTerminalNeverBlocks)
{
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios settings;
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    settings.c_iflag |= IXON;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &settings), 0);
    ASSERT_EQ(tcflow(slave, TCOOFF), 0); // what Ctrl-S does

    const RunProgram::ChildOutcome child = RunProgram::RunInChild(
        [slave](int output)
        {
            FILE* terminal = fdopen(slave, "w");
            TestClock clock;
            TerminalProgress progress(clock.Reader());
            progress.Begin(terminal, "Demo", 200000);
            for (unsigned long count = 1; count <= 200000; ++count) // some 7 MB of frames
            {
                clock.now += std::chrono::milliseconds(200);
                progress.Show(count);
            }
            progress.End();
            return write(output, "finished", 8) == 8 ? 0 : 1;
        },
        60);
    close(slave);
    close(master);
    ASSERT_GT(child.pid, 0);
    EXPECT_EQ(child.text, "finished") << "a write to the stopped terminal held the progress up";
}
