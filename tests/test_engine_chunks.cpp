// Cutting a portion into chunks and the share of it already sent.
#include "sendupdate.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Sizes of the chunks NextChunk cuts the whole of `data` into.
std::vector<uint32_t> ChunkSizes(const Bytes& data, int32_t ideal, int32_t max) {
    std::vector<uint32_t> sizes;
    ByteRange remaining = {data.data(), data.data() + data.size()};
    while (!remaining.IsEmpty()) {
        ByteRange chunk = NextChunk(remaining, ideal, max);
        EXPECT_EQ(chunk.start, remaining.start);
        sizes.push_back(chunk.Size());
        if (chunk.Size() == 0)
            break; // a chunker that stops advancing must fail, not hang
        remaining.AdvanceStart(chunk.Size());
    }
    return sizes;
}

TEST(NextChunkTest, CutsOnMessageBoundariesWithinTheMaximum) {
    struct Case {
        const char* name;
        Bytes data;
        int32_t ideal, max;
        std::vector<uint32_t> expected;
    };
    const Bytes eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0x11};
    const Case cases[] = {
        {"extends to F7", {1, 2, 3, 4, 5, 0xF7, 7, 8, 9, 0x0A}, 4, 6, {6, 4}},
        {"stopped by maximum", eleven, 4, 6, {6, 5}},
        {"maximum equal to ideal", eleven, 4, 4, {4, 4, 3}},
        {"ends on 0A", {1, 2, 3, 0x0A, 5, 6}, 2, 6, {4, 2}},
        {"rest below ideal sent whole", Bytes(100, 1), 1024, 3072, {100}},
        {"rest below ideal even above maximum", Bytes(10, 1), 16, 4, {10}},
        {"chunk already ends on F7", {1, 0xF7, 3, 4, 5}, 2, 6, {2, 3}},
        {"ideal of zero counts as one", {1, 2, 0xF7, 4}, 0, 0, {1, 1, 1, 1}},
        {"ideal of zero grows to F7", {1, 2, 0xF7, 4}, 0, 8, {3, 1}},
        {"negative ideal is huge", Bytes(5000, 1), -1, 3072, {5000}},
        {"negative maximum is huge", {1, 2, 3, 0xF7, 5, 6}, 1, -1, {4, 2}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChunkSizes(c.data, c.ideal, c.max), c.expected) << c.name;
}

TEST(ProgressFractionTest, ShareBeforeTheRemainingRange) {
    Bytes data(2048);
    ByteRange total = {data.data(), data.data() + data.size()};
    ByteRange remaining = total;
    EXPECT_EQ(ProgressFraction(total, remaining), 0.0f);
    remaining.AdvanceStart(1024);
    EXPECT_EQ(ProgressFraction(total, remaining), 0.5f);
    remaining.AdvanceStart(1024);
    EXPECT_EQ(ProgressFraction(total, remaining), 1.0f);
}

TEST(ByteRangeTest, AdvanceAndExtend) {
    Bytes data(10);
    ByteRange range = {data.data(), data.data()};
    EXPECT_TRUE(range.IsEmpty());
    range.ExtendEnd(4);
    EXPECT_EQ(range.Size(), 4u);
    EXPECT_EQ(range.start, data.data());
    range.AdvanceStart(4);
    EXPECT_TRUE(range.IsEmpty());
    EXPECT_TRUE((range == ByteRange{data.data() + 4, data.data() + 4}));
}

// Only where the checks are compiled in and GoogleTest can watch a process die
// (not under node).
#if !defined(NDEBUG) && GTEST_HAS_DEATH_TEST
TEST(ByteRangeDeathTest, AdvancingPastTheEndIsAsserted) {
    Bytes data(10);
    ByteRange range = {data.data(), data.data() + 4};
    EXPECT_DEATH(range.AdvanceStart(5), "start <= end");
    ByteRange total = {data.data(), data.data() + 10};
    EXPECT_DEATH(ProgressFraction(total, range), "total.end == remaining.end");
}
#endif

} // namespace
