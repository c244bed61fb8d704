#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Sha256.h"

// The standard's own examples, and a text fed in pieces that cross the 64-byte blocks.
TEST(Sha256Test, GivesTheStandardsDigests)
{
    EXPECT_EQ(Sha256::Of("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::Of("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256::Of(twoBlocks.data(), twoBlocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 pieces;
    const std::string million(1000000, 'a');
    for (size_t start = 0; start < million.size(); start += 999)
        pieces.Add(million.data() + start, std::min<size_t>(999, million.size() - start));
    EXPECT_EQ(pieces.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// The processor's SHA instructions against the portable code: every length up to a little past
// three blocks in one piece, and a long input fed to the processor's path in uneven pieces that
// end before, on and after block boundaries.
TEST(Sha256Test, ProcessorInstructionsAgreeWithPortableCode)
{
    if (!Sha256::UsesProcessorExtensions())
        GTEST_SKIP() << "this processor has no SHA instructions: only the portable code runs";
    std::string bytes(10000, '\0');
    for (size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<char>(index * 131 + (index >> 8));
    std::vector<std::vector<size_t>> feeds;
    for (size_t length = 0; length <= 200; ++length)
        feeds.push_back({length});
    feeds.push_back({1, 62, 65, 0, 64, 127, 4096, 3, 1000, 129});
    for (const std::vector<size_t>& pieces : feeds)
    {
        Sha256 processor;
        size_t length = 0;
        for (const size_t piece : pieces)
        {
            processor.Add(bytes.data() + length, piece);
            length += piece;
        }
        Sha256 portable = Sha256::Portable();
        portable.Add(bytes.data(), length);
        EXPECT_EQ(processor.HexDigest(), portable.HexDigest()) << length << " bytes in " << pieces.size() << " pieces";
    }
}
