#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "Status.h"

// The rules callers lean on when they ask a Status instead of comparing errno values, each case
// one failure as a system call leaves it.
TEST(StatusTest, PredicatesNameTheFailuresCallersTellApart)
{
    struct Case
    {
        int error;
        bool notFound, permission, notFolder, notEmpty, mayBeFolder, systemFailure;
    };
    const Case cases[] = {
        {ENOENT, true, false, false, false, false, true},
        {EACCES, false, true, false, false, false, true},
        // EPERM is a refusal too, and what some systems say for unlinking a folder.
        {EPERM, false, true, false, false, true, true},
        {EISDIR, false, false, false, false, true, true},
        // A link where a folder was expected is no folder.
        {ELOOP, false, false, true, false, false, true},
        {ENOTDIR, false, false, true, false, false, true},
        // Both ways a system says a folder still holds something.
        {ENOTEMPTY, false, false, false, true, false, true},
        {EEXIST, false, false, false, true, false, true},
        // A rule of our own carries no errno value.
        {0, false, false, false, false, false, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.error);
        const Status failed = Status::Failed(c.error, "x");
        EXPECT_FALSE(failed.IsDone());
        EXPECT_EQ(failed.IsNotFound(), c.notFound);
        EXPECT_EQ(failed.IsPermissionDenied(), c.permission);
        EXPECT_EQ(failed.IsNotFolder(), c.notFolder);
        EXPECT_EQ(failed.IsNotEmpty(), c.notEmpty);
        EXPECT_EQ(failed.MayBeFolder(), c.mayBeFolder);
        EXPECT_EQ(failed.IsSystemFailure(), c.systemFailure);
    }
}

TEST(StatusTest, AReasonKeepsItsErrnoUnderANewMessageAndDoneStaysDone)
{
    errno = ENOENT;
    const Status failed = Status::FromErrno("inner");
    const Status explained = failed.Because("outer");
    EXPECT_TRUE(explained.IsNotFound());
    EXPECT_EQ(std::string(explained.Message().ConstData()), "outer");
    EXPECT_EQ(std::string(explained.Text().ConstData()), std::string("outer: ") + strerror(ENOENT));
    EXPECT_TRUE(Status::Done().Because("outer").IsDone());
}

TEST(StatusTest, AResultHoldsItsValueOrAFailureNeverNeither)
{
    const Result<int> value(7);
    EXPECT_TRUE(value.IsDone());
    EXPECT_EQ(value.Value(), 7);
    const Result<int> failure(Status::Failed(EACCES, "denied"));
    EXPECT_FALSE(failure.IsDone());
    EXPECT_TRUE(failure.GetStatus().IsPermissionDenied());
    // Given a done status there is no value to hold: that counts as failed, with a message.
    const Result<int> empty(Status::Done());
    EXPECT_FALSE(empty.IsDone());
    EXPECT_FALSE(empty.GetStatus().IsDone());
}
