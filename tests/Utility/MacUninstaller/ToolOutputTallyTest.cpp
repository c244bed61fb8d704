#include <string>

#include <gtest/gtest.h>

#include "SKUDefinition.h"
#include "ToolOutputTally.h"

TEST(ToolOutputTally, CountsTheSameWhateverPiecesTheOutputArrivesIn)
{
    const std::string output = "removed /t/a\nkept /t/b\nnoise\nfailed /t/c: Busy\nsummary: 1 removed\nmissing /t/d";
    for (unsigned long piece : {1ul, 3ul, 64ul, 1000ul})
    {
        ToolOutputTally tally;
        for (size_t start = 0; start < output.size(); start += piece)
            tally.Feed(output.data() + start, std::min<unsigned long>(piece, output.size() - start));
        EXPECT_EQ(tally.EntriesHandled(), 3u) << piece;
        EXPECT_STREQ(tally.CurrentPath().ConstData(), "/t/c") << piece;
        tally.Finish(); // the last line had no newline
        EXPECT_EQ(tally.EntriesHandled(), 4u) << piece;
        EXPECT_STREQ(tally.CurrentPath().ConstData(), "/t/d") << piece;
        EXPECT_STREQ(tally.FailureDetails().ConstData(), "failed /t/c: Busy") << piece;
    }
}

TEST(ToolOutputTally, KeepsTheFirstHundredFailuresAndCountsTheRest)
{
    ToolOutputTally tally;
    EXPECT_TRUE(tally.FailureDetails().IsEmpty());
    std::string output;
    for (int index = 0; index < 103; ++index)
        output += (index % 2 ? "refused n" : "failed /t/f") + std::to_string(index) + ": reason\nremoved /t/r\n";
    tally.Feed(output.data(), output.size());
    EXPECT_EQ(tally.EntriesHandled(), 206u);
    ASSERT_EQ(tally.FailureLines().size(), 100u);
    EXPECT_STREQ(tally.FailureLines()[0].ConstData(), "failed /t/f0: reason");
    EXPECT_STREQ(tally.FailureLines()[99].ConstData(), "refused n99: reason");
    EXPECT_EQ(tally.MoreFailures(), 3u);
    std::string details = tally.FailureDetails().ConstData();
    EXPECT_EQ(details.substr(0, 41), "failed /t/f0: reason\nrefused n1: reason\nf");
    EXPECT_EQ(details.substr(details.size() - 34), "refused n99: reason\n... and 3 more");
}

// Output without newlines (a stand-in that prints a megabyte) is neither kept nor counted.
TEST(ToolOutputTally, OverlongLinesAreCutAndNotCounted)
{
    ToolOutputTally tally;
    std::string endless = "removed /t/" + std::string(1 << 20, 'r');
    tally.Feed(endless.data(), endless.size());
    tally.Feed("\nremoved /t/short\n", 18);
    EXPECT_EQ(tally.EntriesHandled(), 1u);
    EXPECT_STREQ(tally.CurrentPath().ConstData(), "/t/short");
}

// One line per directory and file below the root, and one per shortcut, as the tool prints them.
TEST(ToolOutputTally, InstallEntriesCountDirectoriesFilesAndShortcuts)
{
    SKUDefinition definition;
    definition.parse("<product><installFiles>"
                     "<directory fileName=\"App\"><file fileName=\"App.app\"><shortCut name=\"App.app\"/></file>"
                     "<directory fileName=\"Docs\"><file fileName=\"a\"/><file fileName=\"b\"/></directory>"
                     "<directory fileName=\"Empty\"/></directory>"
                     "<file fileName=\"top\"/></installFiles></product>");
    EXPECT_EQ(CountInstallEntries(definition.installRoot), 8u);
    EXPECT_EQ(CountInstallEntries(SKUDefinition().installRoot), 0u);
}
