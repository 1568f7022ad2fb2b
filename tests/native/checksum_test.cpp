// The file checksum identifies installed versions; these are its reference
// values and the chunking property every caller relies on.
#include <gtest/gtest.h>

#include <vector>

#include "package/checksum.h"

TEST(Checksum, ReferenceValues) {
    EXPECT_EQ(fileChecksum("", 0, 0), 0u);
    EXPECT_EQ(fileChecksum("abc", 3, 0), 0x2ABu);
    const uint8_t four[] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(fileChecksum(four, 4, 0), 0x44332211u);
}

// Worked by hand, with a running value whose top bit is set: a shift in
// place of the rotation, a rotation the wrong way or by more than one bit,
// or bytes taken as words all give other values.
TEST(Checksum, ReferenceValuesWithARunningValue) {
    const uint8_t words[] = {0x01, 0x00, 0x00, 0x80, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0xFF, 0x01};
    // rol(0x80000000) + 0x80000001 = 0x80000002; rol + 2 = 7; rol + 3 = 0x11;
    // then the bytes: rol + 0xFF = 0x121; rol + 1 = 0x243.
    EXPECT_EQ(fileChecksum(words, 12, 0x80000000u), 0x11u);
    EXPECT_EQ(fileChecksum(words, 14, 0x80000000u), 0x243u);
    EXPECT_EQ(fileChecksum(words + 12, 2, 0x11u), 0x243u);
    // Carries wrap: 0xFFFFFFFF rotates to itself, plus 1 is 0.
    const uint8_t one[] = {1, 0, 0, 0};
    EXPECT_EQ(fileChecksum(one, 4, 0xFFFFFFFFu), 0u);
}

TEST(Checksum, ChunkedEqualsWhole) {
    std::vector<uint8_t> data(100003);
    uint32_t x = 12345;
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    uint32_t whole = fileChecksum(data.data(), data.size(), 0);
    uint32_t a = 0;
    for (size_t pos = 0; pos < data.size(); pos += 16384) {
        size_t n = std::min<size_t>(16384, data.size() - pos);
        a = fileChecksum(data.data() + pos, n, a);
    }
    EXPECT_EQ(a, whole);
}

TEST(Checksum, BlindSpotsCallersMustCoverWithTheSize) {
    const uint8_t plain[] = {1, 2, 3, 4};
    const uint8_t padded[] = {0, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(fileChecksum(plain, 4, 0), fileChecksum(padded, 8, 0));
}
