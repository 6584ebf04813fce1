// The emulated device's reading of wire messages against the portion it
// expects: framing taken off, ambiguous final 0xF7 bytes resolved by later
// messages, and differences found.
#include "portionmatcher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct MatchCase {
    const char* name;
    Bytes data;
    bool chunks;
    std::vector<Bytes> messages;
    size_t position; // data bytes received after the last message
    int64_t differenceOffset;
    int expectedByte;
    int receivedByte;
};

const MatchCase kMatchCases[] = {
    {"framed blocks without SysEx bytes",
     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
     true,
     {{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}},
     6,
     -1,
     -1,
     -1},
    {"whole SysEx messages go unframed",
     {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0x04, 0xF7},
     true,
     {{0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x03, 0x04, 0xF7}},
     8,
     -1,
     -1,
     -1},
    {"a part-way portion is not complete",
     {0x01, 0x02, 0x03, 0x04},
     true,
     {{0xF0, 0x01, 0x02, 0xF7}},
     2,
     -1,
     -1,
     -1},
    // F0 01 F7 is both the block 01 framed and the block 01 F7 with 0xF0
    // added: the next message decides.
    {"ambiguous F7 read as framing",
     {0x01, 0xF7, 0x02, 0x03},
     true,
     {{0xF0, 0x01, 0xF7}, {0xF0, 0xF7, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}},
     4,
     -1,
     -1,
     -1},
    {"ambiguous F7 read as data",
     {0x01, 0xF7, 0x02, 0x03},
     true,
     {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}},
     4,
     -1,
     -1,
     -1},
    {"ambiguous F7 at the portion's end completes it",
     {0x01, 0x02, 0xF7},
     true,
     {{0xF0, 0x01, 0x02, 0xF7}},
     3,
     -1,
     -1,
     -1},
    {"a lone F0 block goes out as F0 F7",
     {0xF0, 0x01, 0xF7},
     true,
     {{0xF0, 0xF7}, {0xF0, 0x01, 0xF7}},
     3,
     -1,
     -1,
     -1},
    {"unframed blocks arrive as they are",
     {0x01, 0x02, 0x03, 0xF7},
     false,
     {{0x01, 0x02}, {0x03, 0xF7}},
     4,
     -1,
     -1,
     -1},
    {"a changed byte is found",
     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
     true,
     {{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x63, 0x06, 0xF7}},
     6,
     4,
     0x05,
     0x63},
    {"the end is still found after a difference",
     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
     true,
     {{0xF0, 0x01, 0x63, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}},
     6,
     1,
     0x02,
     0x63},
    {"more bytes than the portion holds",
     {0x01, 0x02},
     true,
     {{0xF0, 0x01, 0x02, 0x03, 0xF7}},
     2,
     2,
     -1,
     0x03},
    {"unframed data with a changed byte",
     {0x01, 0x02, 0x03},
     false,
     {{0x01, 0x09, 0x03}},
     3,
     1,
     0x02,
     0x09},
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << c.name;
}

class MatcherTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatcherTable, FollowsThePortion) {
    const MatchCase& c = GetParam();
    PortionMatcher matcher(c.data, c.chunks);
    for (const Bytes& message : c.messages)
        matcher.Take(message);
    EXPECT_EQ(matcher.GetPosition(), c.position);
    EXPECT_EQ(matcher.IsComplete(), c.position == c.data.size());
    EXPECT_EQ(matcher.IsMatched(), c.differenceOffset < 0);
    EXPECT_EQ(matcher.GetDifferenceOffset(), c.differenceOffset);
    EXPECT_EQ(matcher.GetExpectedByte(), c.expectedByte);
    EXPECT_EQ(matcher.GetReceivedByte(), c.receivedByte);
}

INSTANTIATE_TEST_SUITE_P(Messages, MatcherTable, ::testing::ValuesIn(kMatchCases),
                         [](const ::testing::TestParamInfo<MatchCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return name;
                         });

TEST(PortionMatcher, ContinuesOnlyWithTheExpectedBytes) {
    const Bytes data = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7, 0x05};
    PortionMatcher matcher(data, true);
    EXPECT_TRUE(matcher.Continues({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
    EXPECT_FALSE(matcher.Continues({0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7}));
    // Framing that the port would not have added is a difference too.
    EXPECT_FALSE(matcher.Continues({0xF0, 0xF0, 0x7E, 0xF7}));
    matcher.Take({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
    EXPECT_TRUE(matcher.Continues({0xF0, 0x05, 0xF7}));
    EXPECT_FALSE(matcher.Continues({0x05}));
}

TEST(PortionMatcher, EmptyPortionIsCompleteAtOnce) {
    const Bytes data;
    PortionMatcher matcher(data, true);
    EXPECT_TRUE(matcher.IsComplete());
}

} // namespace
