#include "RemovalReport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

namespace
{

// A pipe read without waiting: what the report has flushed so far, and nothing it only buffered.
class Pipe
{
public:
    Pipe()
    {
        EXPECT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        stream = fdopen(ends[1], "w");
    }
    ~Pipe()
    {
        fclose(stream);
        close(ends[0]);
    }
    FILE* get() { return stream; }
    std::string flushed()
    {
        std::string text;
        char buffer[512];
        for (ssize_t size; (size = read(ends[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(size));
        return text;
    }

private:
    int ends[2] = {-1, -1};
    FILE* stream = nullptr;
};

struct Row
{
    const char* what;
    bool dryRun;
    std::function<void(RemovalReport&)> report;
    std::string line;
    std::string summary;
    bool runFails;
};

} // namespace

TEST(RemovalReportTest, EachKindOfLineIsWrittenAtOnceAndCountedInItsPlace)
{
    const TqString path("/t/Settings");
    const std::vector<Row> rows = {
        {"kept, marked", false, [&](RemovalReport& r) { r.Kept(path, "marked to keep"); },
         "kept /t/Settings: marked to keep", "0 removed, 1 kept, 0 missing, 0 failed, 0 ignored", false},
        {"kept, unlisted", false,
         [&](RemovalReport& r) { r.Kept(path, "holds 2 entries the product did not install"); },
         "kept /t/Settings: holds 2 entries the product did not install",
         "0 removed, 1 kept, 0 missing, 0 failed, 0 ignored", false},
        {"kept, plain", false, [&](RemovalReport& r) { r.Kept(path); }, "kept /t/Settings",
         "0 removed, 1 kept, 0 missing, 0 failed, 0 ignored", false},
        {"ignored", false, [&](RemovalReport& r) { r.Failed(path, "Operation not permitted", true); },
         "ignored /t/Settings: Operation not permitted", "0 removed, 0 kept, 0 missing, 0 failed, 1 ignored", false},
        {"failed", false, [&](RemovalReport& r) { r.Failed(path, "Operation not permitted", false); },
         "failed /t/Settings: Operation not permitted", "0 removed, 0 kept, 0 missing, 1 failed, 0 ignored", true},
        {"would fail", true, [&](RemovalReport& r) { r.Failed(path, "Read-only file system", false); },
         "would fail /t/Settings: Read-only file system",
         "0 would be removed, 0 kept, 0 missing, 1 would fail, 0 failed, 0 ignored", true},
        {"ignored, dry run", true, [&](RemovalReport& r) { r.Failed(path, "Read-only file system", true); },
         "ignored /t/Settings: Read-only file system",
         "0 would be removed, 0 kept, 0 missing, 0 would fail, 0 failed, 1 ignored", false},
        {"refused, dry run", true, [&](RemovalReport& r) { r.Refused("..", "names a directory itself"); },
         "refused ..: names a directory itself",
         "0 would be removed, 0 kept, 0 missing, 0 would fail, 1 failed, 0 ignored", true},
    };
    for (const Row& row : rows)
    {
        Pipe out;
        Pipe errors;
        RemovalReport report(true, row.dryRun, out.get(), errors.get());
        row.report(report);
        EXPECT_EQ(out.flushed(), row.line + "\n") << row.what;
        report.Summary();
        EXPECT_EQ(out.flushed(), "summary: " + row.summary + "\n") << row.what;
        EXPECT_EQ(errors.flushed(), "") << row.what;
        EXPECT_EQ(report.RunFailed(), row.runFails) << row.what;
    }
}

TEST(RemovalReportTest, AReportThatCannotBeWrittenIsSaidOnceAndFailsTheRun)
{
    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    Pipe errors;
    RemovalReport report(true, false, full, errors.get());
    report.Removed("/t/a");
    report.Removed("/t/b");
    report.Summary();
    EXPECT_EQ(errors.flushed(), "cannot write the removal report: No space left on device\n");
    EXPECT_TRUE(report.RunFailed());
    EXPECT_EQ(report.GetCounts().removed, 2u);
    fclose(full);
}
