#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "SKUDefinition.h"
#include "ToolOutputTally.h"

TEST(ToolOutputTally, CountsTheSameWhateverPiecesTheOutputArrivesIn)
{
    const std::string output =
        "removed /t/a\nkept /t/b: marked to keep\nnoise\nfailed /t/c: Busy\nsummary: 1 removed\n"
        "ignored /t/e: Busy\nmissing /t/d";
    for (unsigned long piece : {1ul, 3ul, 64ul, 1000ul})
    {
        ToolOutputTally tally;
        for (size_t start = 0; start < output.size(); start += piece)
            tally.Feed(output.data() + start, std::min<unsigned long>(piece, output.size() - start));
        EXPECT_EQ(tally.EntriesHandled(), 4u) << piece;
        EXPECT_STREQ(tally.CurrentPath().ConstData(), "/t/e") << piece;
        tally.Finish(); // the last line had no newline
        EXPECT_EQ(tally.EntriesHandled(), 5u) << piece;
        EXPECT_STREQ(tally.CurrentPath().ConstData(), "/t/d") << piece;
        // Failures, what was kept or let pass, then the messages; what was kept; the messages alone.
        EXPECT_STREQ(tally.FailureDetails().ConstData(),
                     "failed /t/c: Busy\nkept /t/b: marked to keep\nignored /t/e: Busy\nnoise")
            << piece;
        EXPECT_STREQ(tally.KeptDetails().ConstData(), "kept /t/b: marked to keep\nignored /t/e: Busy")
            << piece;
        EXPECT_STREQ(tally.MessageDetails().ConstData(), "noise") << piece;
        EXPECT_STREQ(tally.LastMessage().ConstData(), "noise") << piece;
    }
    // Before the first entry the tool's word is what the progress shows; after it, paths alone.
    ToolOutputTally waiting;
    const std::string lines[] = {"waiting for another removal of /t\n", "removed /t/a\n", "noise\n"};
    const char* shown[] = {"waiting for another removal of /t", "/t/a", "/t/a"};
    const unsigned long changes[] = {1, 2, 2};
    for (int index = 0; index < 3; ++index)
    {
        waiting.Feed(lines[index].data(), lines[index].size());
        EXPECT_STREQ(waiting.CurrentPath().ConstData(), shown[index]) << index;
        EXPECT_EQ(waiting.Changes(), changes[index]) << index;
    }
}

TEST(ToolOutputTally, KeepsTheFirstHundredFailuresAndCountsTheRest)
{
    ToolOutputTally tally;
    EXPECT_TRUE(tally.FailureDetails().IsEmpty());
    std::string output;
    for (int index = 0; index < 103; ++index)
        output +=
            (index % 2 ? "refused n" : "failed /t/f") + std::to_string(index) + ": reason\nremoved /t/r\n";
    tally.Feed(output.data(), output.size());
    EXPECT_EQ(tally.EntriesHandled(), 206u);
    ASSERT_EQ(tally.Failures().Lines().size(), 100u);
    EXPECT_STREQ(tally.Failures().Lines()[0].ConstData(), "failed /t/f0: reason");
    EXPECT_STREQ(tally.Failures().Lines()[99].ConstData(), "refused n99: reason");
    EXPECT_EQ(tally.Failures().More(), 3u);
    std::string details = tally.FailureDetails().ConstData();
    EXPECT_EQ(details.substr(0, 41), "failed /t/f0: reason\nrefused n1: reason\nf");
    EXPECT_EQ(details.substr(details.size() - 34), "refused n99: reason\n... and 3 more");
}

// A line over 4 KiB is cut to its first 4 KiB (never inside a character) and "…", and still
// counts as what it is, so a long failure names its entry; one of exactly 4 KiB stays whole.
TEST(ToolOutputTally, OverlongLinesAreCutNotDropped)
{
    const std::string output = "failed /t/" + std::string(4085, 'f') + "\xC3\xA9" +
                               std::string(1 << 20, 'r') + "\nremoved /t/" + std::string(4096 - 11, 's') +
                               "\n";
    // At once, and in the flow's 64-byte reads.
    for (size_t piece : {output.size(), size_t(64)})
    {
        ToolOutputTally tally;
        for (size_t start = 0; start < output.size(); start += piece)
            tally.Feed(output.data() + start, std::min(piece, output.size() - start));
        EXPECT_EQ(tally.EntriesHandled(), 2u) << piece;
        ASSERT_EQ(tally.Failures().Lines().size(), 1u) << piece;
        EXPECT_EQ(std::string(tally.Failures().Lines()[0].ConstData()),
                  "failed /t/" + std::string(4085, 'f') + "\xE2\x80\xA6");
        EXPECT_EQ(std::string(tally.CurrentPath().ConstData()), "/t/" + std::string(4085, 's'));
    }
}

// One line per directory and file below the root, and one per shortcut, as the tool prints them.
TEST(ToolOutputTally, InstallEntriesCountDirectoriesFilesAndShortcuts)
{
    SKUDefinition definition;
    definition.parse(
        "<product><installFiles>"
        "<directory fileName=\"App\"><file fileName=\"App.app\"><shortCut name=\"App.app\"/></file>"
        "<directory fileName=\"Docs\"><file fileName=\"a\"/><file fileName=\"b\"/></directory>"
        "<directory fileName=\"Empty\"/></directory>"
        "<file fileName=\"top\"/></installFiles></product>");
    EXPECT_EQ(CountInstallEntries(definition.installRoot), 8u);
    EXPECT_EQ(CountInstallEntries(SKUDefinition().installRoot), 0u);
}

// While the tool says how far it is inside an entry, that entry and its running count are what the
// progress shows, under the target and grouped by thousands; the entry's own line ends it.
TEST(ToolOutputTally, AnEntryBeingRemovedShowsItsRunningCountUntilItsLineComes)
{
    ToolOutputTally tally;
    tally.SetTarget("/opt/Tq");
    const struct
    {
        const char* line;
        const char* activity;
        unsigned long handled, removed;
    } steps[] = {
        {"removed /opt/Tq/a\n", "", 1, 1},
        {"removing /opt/Tq/Plug-Ins/Big.bundle: 64 items removed so far\n",
         "Plug-Ins/Big.bundle \xE2\x80\x94 64 items removed", 1, 1},
        {"removing /opt/Tq/Plug-Ins/Big.bundle: 12480 items removed so far\n",
         "Plug-Ins/Big.bundle \xE2\x80\x94 12,480 items removed", 1, 1},
        {"removing /opt/Tq/Plug-Ins/Big.bundle: 1234567 items removed so far\n",
         "Plug-Ins/Big.bundle \xE2\x80\x94 1,234,567 items removed", 1, 1},
        {"removed /opt/Tq/Plug-Ins/Big.bundle\n", "", 2, 2},
        {"removing /elsewhere/x: 1 items removed so far\n", "/elsewhere/x \xE2\x80\x94 1 item removed", 2, 2},
        {"kept /opt/Tq/b: the removal was cancelled\n", "", 3, 2},
    };
    for (const auto& step : steps)
    {
        const unsigned long before = tally.Changes();
        tally.Feed(step.line, std::strlen(step.line));
        EXPECT_GT(tally.Changes(), before) << step.line;
        EXPECT_STREQ(tally.Activity().ConstData(), step.activity) << step.line;
        EXPECT_EQ(tally.EntriesHandled(), step.handled) << step.line;
        EXPECT_EQ(tally.EntriesRemoved(), step.removed) << step.line;
    }
    // Progress is neither an entry nor a message the person is shown afterwards.
    EXPECT_STREQ(tally.FailureDetails().ConstData(), "kept /opt/Tq/b: the removal was cancelled");
}
