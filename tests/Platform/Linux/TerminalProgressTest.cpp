#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "TerminalProgress.h"

namespace
{

// Drives one progress line through the counts and returns what reached the terminal.
std::string Printed(const TqString& product, unsigned long total, std::initializer_list<unsigned long> counts)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    TerminalProgress progress;
    progress.Show(1); // before Begin: nothing to write to
    progress.Begin(out, product, total);
    for (unsigned long count : counts)
        progress.Show(count);
    progress.End();
    progress.Show(9); // after End: nothing more
    progress.End();
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
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
    EXPECT_EQ(Printed("Evil\r\x1b[2J\\", 1, {2}),
              "\rRemoving Evil\\x0D\\x1B[2J\\\\: 2 of 2 entries\n");
}
