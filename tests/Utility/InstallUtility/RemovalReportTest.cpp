#include "RemovalReport.h"
#include "RemovalFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

// Each kind of line, read from a pipe without waiting: the first line into a pipe is flushed at
// once, so a reader's progress starts with the first entry, and the summary flushes the rest.
TEST(RemovalReportTest, EachKindOfLineIsWrittenAtOnceAndCountedInItsPlace)
{
    struct Row
    {
        bool dryRun;
        std::function<void(RemovalReport&)> report;
        std::string line;
        std::string summary;
        bool runFails;
    };
    const TqString p("/t/S");
    const std::string real = "summary: 0 removed, ";
    const std::string dry = "summary: 0 would be removed, ";
    const std::vector<Row> rows = {
        // Kept lines, with a reason and without, are in the remover test's exact outputs.
        {false, [&](RemovalReport& r) { r.Failed(p, "Busy", true); }, "ignored /t/S: Busy",
         real + "0 kept, 0 missing, 0 failed, 1 ignored", false},
        {false, [&](RemovalReport& r) { r.Failed(p, "Busy", false); }, "failed /t/S: Busy",
         real + "0 kept, 0 missing, 1 failed, 0 ignored", true},
        {true, [&](RemovalReport& r) { r.Failed(p, "Busy", false); }, "would fail /t/S: Busy",
         dry + "0 kept, 0 missing, 1 would fail, 0 failed, 0 would be ignored", true},
        {true, [&](RemovalReport& r) { r.Failed(p, "Busy", true); }, "would be ignored /t/S: Busy",
         dry + "0 kept, 0 missing, 0 would fail, 0 failed, 1 would be ignored", false},
        {true, [&](RemovalReport& r) { r.Refused("..", "no"); }, "refused ..: no",
         dry + "0 kept, 0 missing, 0 would fail, 1 failed, 0 would be ignored", true},
    };
    for (const Row& row : rows)
    {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        FILE* out = fdopen(ends[1], "w");
        const auto flushed = [&ends]
        {
            char buffer[512];
            const ssize_t size = read(ends[0], buffer, sizeof buffer);
            return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
        };
        RemovalReport report(true, row.dryRun, out, stderr);
        row.report(report);
        EXPECT_EQ(flushed(), row.line + "\n");
        report.Summary();
        EXPECT_EQ(flushed(), row.summary + "\n");
        EXPECT_EQ(report.RunFailed(), row.runFails) << row.line;
        fclose(out);
        close(ends[0]);
    }
}

// Into a file nobody reads as it grows, lines are written in blocks: a short report is all held
// until the summary, which writes it out; a block that cannot be written fails the run there. Into
// a pipe, what is held goes before a long step.
TEST(RemovalReportTest, IntoAFileLinesAreWrittenInBlocksAndTheSummaryWritesTheRest)
{
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    FILE* pipeOut = fdopen(ends[1], "w");
    RemovalReport toPipe(true, false, pipeOut, stderr);
    toPipe.Removed("/t/a");
    toPipe.Removed("/t/b");
    toPipe.FlushHeld();
    char piped[64] = {};
    EXPECT_EQ(read(ends[0], piped, sizeof piped - 1), 26);
    EXPECT_STREQ(piped, "removed /t/a\nremoved /t/b\n");
    fclose(pipeOut);
    close(ends[0]);

    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    const auto written = [file]
    {
        char buffer[512];
        const ssize_t size = pread(fileno(file), buffer, sizeof buffer, 0);
        return std::string(buffer, size > 0 ? static_cast<size_t>(size) : 0);
    };
    RemovalReport report(true, false, file, stderr);
    report.Removed("/t/a");
    report.Missing("/t/b");
    EXPECT_EQ(written(), "");
    report.Summary();
    EXPECT_EQ(written(), "removed /t/a\nmissing /t/b\nsummary: 1 removed, 0 kept, 1 missing, 0 failed, 0 ignored\n");
    EXPECT_FALSE(report.RunFailed());
    fclose(file);

    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    CapturedStream errors;
    RemovalReport failing(true, false, full, errors.get());
    failing.Removed("/t/a");
    failing.Summary();
    EXPECT_TRUE(failing.RunFailed());
    EXPECT_EQ(errors.text(), "cannot write the removal report: No space left on device\n");
    fclose(full);
}
