#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "RemovalJson.h"

// Each entry is one JSON object on one line; a name that is not UTF-8 keeps its bytes in base64
// beside a readable string, and names with line ends or quotes stay one line.
TEST(RemovalJsonTest, EntriesAreOneObjectALineAndKeepEveryByte)
{
    const struct
    {
        RemovalLineKind kind;
        TqString path, reason;
        std::string expected;
    } cases[] = {
        {RemovalLineKind::Removed, "/t/caf\xc3\xa9", TqString(), "{\"kind\":\"removed\",\"path\":\"/t/caf\xc3\xa9\"}"},
        {RemovalLineKind::WouldFail, "/t/a\nb\"c", "Permission denied",
         "{\"kind\":\"would fail\",\"path\":\"/t/a\\nb\\\"c\",\"reason\":\"Permission denied\"}"},
        {RemovalLineKind::Kept, "/t/\xff\xfe", "marked to keep",
         "{\"kind\":\"kept\",\"path\":\"/t/\xef\xbf\xbd\xef\xbf\xbd\",\"path_base64\":\"L3Qv//4=\",\"reason\":"
         "\"marked to keep\"}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RemovalJson::EntryObject(c.kind, c.path, c.reason), c.expected);
}

// The closing object counts as the summary does, by the dry run's own names, and says changed only
// when a real run removed something.
TEST(RemovalJsonTest, TheClosingObjectSaysWhatChanged)
{
    RemovalJson::Closing closing;
    closing.productName = "P";
    closing.productId = "ID-1";
    closing.target = "/t";
    closing.hasSummary = true;
    closing.counts.removed = 2;
    closing.counts.failed = 1;
    closing.status = 1;
    closing.messages = {"a message"};
    const nlohmann::json real = nlohmann::json::parse(RemovalJson::ClosingObject(closing));
    EXPECT_EQ(real.dump(), "{\"changed\":true,\"dry_run\":false,\"messages\":[\"a message\"],\"product\":{\"build\":\"\","
                           "\"id\":\"ID-1\",\"name\":\"P\"},\"schema\":1,\"status\":1,\"summary\":{\"failed\":1,"
                           "\"ignored\":0,\"kept\":0,\"missing\":0,\"removed\":2},\"target\":\"/t\"}");
    closing.dryRun = true;
    const nlohmann::json dry = nlohmann::json::parse(RemovalJson::ClosingObject(closing));
    EXPECT_EQ(dry["changed"], false);
    EXPECT_EQ(dry["summary"]["would_be_removed"], 2);
    EXPECT_EQ(dry["summary"]["would_fail"], 0);
    closing.hasSummary = false;
    EXPECT_FALSE(nlohmann::json::parse(RemovalJson::ClosingObject(closing)).contains("summary"));
}
