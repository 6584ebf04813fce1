// The RtMidi port's pure rules for the wire: a block's time on a MIDI cable,
// and the pieces of a block too big for one RtMidi message.
#include "midiwire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

TEST(RtMidiWireTest, TimeOnTheCableIsTenBitsAByteAt31250BaudRoundedUp) {
    struct Case {
        uint64_t bytes;
        uint32_t ms;
    };
    const Case cases[] = {
        {0, 0},         {1, 1},
        {3, 1},         {4, 2}, // 0.32 ms a byte
        {1026, 329},    {3125, 1000},
        {3126, 1001},   {16379, 5242},
        {31250, 10000}, {0xFFFFFFFFu, 1374389535}, // no overflow on the largest block
    };
    for (const Case& c : cases)
        EXPECT_EQ(WireTimeMs(c.bytes), c.ms) << c.bytes << " bytes";
}

std::vector<std::vector<uint8_t>> Pieces(const std::vector<uint8_t>& block, size_t maxPiece) {
    const std::vector<MessagePiece> cuts = SplitMessage(block.data(), block.size(), maxPiece);
    std::vector<std::vector<uint8_t>> pieces(cuts.size());
    std::transform(cuts.begin(), cuts.end(), pieces.begin(), [&block](const MessagePiece& piece) {
        return std::vector<uint8_t>(block.begin() + static_cast<long>(piece.start),
                                    block.begin() + static_cast<long>(piece.end));
    });
    return pieces;
}

TEST(RtMidiWireTest, BlocksThatFitStayWhole) {
    EXPECT_TRUE(SplitMessage(nullptr, 0).empty());
    std::vector<uint8_t> block(kMaxMidiMessage, 0x11);
    block.front() = 0xF0;
    block.back() = 0xF7;
    EXPECT_EQ(Pieces(block, kMaxMidiMessage), std::vector<std::vector<uint8_t>>{block});
}

TEST(RtMidiWireTest, LargerBlocksGoOutInPiecesOfTheLargestSizeRtMidiPasses) {
    // One byte over the limit: the framed message of 16380 bytes.
    std::vector<uint8_t> block(kMaxMidiMessage + 1, 0x22);
    block.front() = 0xF0;
    block.back() = 0xF7;
    const std::vector<MessagePiece> pieces = SplitMessage(block.data(), block.size());
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].end - pieces[0].start, kMaxMidiMessage);
    EXPECT_EQ(pieces[1].start, kMaxMidiMessage);
    EXPECT_EQ(pieces[1].end, block.size());
}

TEST(RtMidiWireTest, CutsAvoidEndingOnF7AndStartingOnF0) {
    struct Case {
        std::vector<uint8_t> block;
        size_t maxPiece;
        std::vector<std::vector<uint8_t>> pieces;
    };
    const Case cases[] = {
        // The cut at 4 would end the first piece on F7 and start the next
        // on F0: it moves back by one.
        {{0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7},
         4,
         {{0xF0, 0x01, 0x02}, {0xF7, 0xF0, 0x03, 0xF7}}},
        // Only the next piece's F0 is in the way.
        {{0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7}, 3, {{0xF0, 0x01}, {0x02, 0xF0, 0x03}, {0xF7}}},
        // Nowhere to cut but at the limit: the piece keeps its full size.
        {{0xF7, 0xF7, 0xF7, 0xF7, 0xF7}, 2, {{0xF7, 0xF7}, {0xF7, 0xF7}, {0xF7}}},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, 2, {{0x01, 0x02}, {0x03, 0x04}, {0x05}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pieces(c.block, c.maxPiece), c.pieces);
}

TEST(RtMidiWireTest, PiecesCoverTheBlockInOrderAndKeepTheCutRuleWhereTheyCan) {
    std::mt19937 random(20240607);
    const uint8_t alphabet[] = {0xF0, 0xF7, 0x00, 0x41, 0x7F};
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> block(1 + random() % 200);
        std::generate(block.begin(), block.end(),
                      [&random, &alphabet] { return alphabet[random() % sizeof alphabet]; });
        const size_t maxPiece = 1 + random() % 20;
        const std::vector<MessagePiece> pieces = SplitMessage(block.data(), block.size(), maxPiece);
        size_t next = 0;
        for (size_t index = 0; index < pieces.size(); ++index) {
            const MessagePiece& piece = pieces[index];
            ASSERT_EQ(piece.start, next);
            ASSERT_GT(piece.end, piece.start);
            ASSERT_LE(piece.end - piece.start, maxPiece);
            next = piece.end;
            if (index + 1 == pieces.size())
                continue;
            const bool clean = block[piece.end - 1] != 0xF7 && block[piece.end] != 0xF0;
            // A cut against the rule is taken only at the limit, where no
            // cut within reach keeps it.
            bool cleanWithinReach = false;
            for (size_t cut = piece.start + 1; cut <= piece.start + maxPiece; ++cut)
                cleanWithinReach =
                    cleanWithinReach || (block[cut - 1] != 0xF7 && block[cut] != 0xF0);
            if (!clean) {
                EXPECT_FALSE(cleanWithinReach) << "round " << round;
                EXPECT_EQ(piece.end - piece.start, maxPiece) << "round " << round;
            }
        }
        EXPECT_EQ(next, block.size());
    }
}

} // namespace
