#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

#include "FileDescriptor.h"
#include "StopRequest.h"
#include "TemporaryFolder.h"

// What the tool's standard input carries before and after a request to stop.
TEST(StopRequest, OnlyTheLineStopThroughAPipeAsks)
{
    const struct
    {
        const char* name;
        std::string before, after; // what arrives before the first look, and after it
        bool closed;               // the writer has gone before the second look
        bool asked;                // what the second look says
    } rows[] = {
        {"the line, after other lines", "y\ny\n", "stop\n", false, true},
        {"the line in pieces", "st", "op\n", false, true},
        {"the line, then the writer goes", "", "stop\nmore\n", true, true},
        {"a longer line", "", "stop now\nstops\n", false, false},
        {"no line end yet", "", "stop", false, false},
        {"the writer gone without it", "no\n", "", true, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const FileDescriptor input(ends[0]);
        FileDescriptor writer(ends[1]);
        StopRequest request(input.Get(), 0);
        ASSERT_EQ(write(writer.Get(), row.before.data(), row.before.size()), ssize_t(row.before.size()));
        EXPECT_FALSE(request.Asked());
        ASSERT_EQ(write(writer.Get(), row.after.data(), row.after.size()), ssize_t(row.after.size()));
        if (row.closed)
            writer = FileDescriptor();
        EXPECT_EQ(request.Asked(), row.asked);
        EXPECT_EQ(request.Asked(), row.asked) << "a request, once made, stays made";
    }
    // Within the interval after a look the pipe is not looked at again.
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const FileDescriptor input(ends[0]), writer(ends[1]);
    StopRequest request(input.Get(), 60000);
    EXPECT_FALSE(request.Asked());
    ASSERT_EQ(write(writer.Get(), "stop\n", 5), 5);
    EXPECT_FALSE(request.Asked());
    // Standard input from a file (or a terminal) is never read: it holds no request.
    TemporaryFolder folder;
    const std::string file = TemporaryFolder::WriteFile(folder.path() + "/input", "stop\n");
    const FileDescriptor fromFile(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    StopRequest fromFileRequest(fromFile.Get());
    EXPECT_FALSE(fromFileRequest.Asked());
    EXPECT_EQ(lseek(fromFile.Get(), 0, SEEK_CUR), 0);
}
