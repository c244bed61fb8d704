#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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
