// The pure rules for the wire of ports that hand a MIDI system messages, not
// bytes: a block's time on a MIDI cable, the events a block is cut into (one
// message each, and a message too big for one RtMidi message in pieces), and
// the whole messages that a system taking nothing else is handed.
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

std::vector<std::vector<uint8_t>> Pieces(const std::vector<uint8_t>& block, size_t maxEvent) {
    const std::vector<MessagePiece> cuts = SplitIntoEvents(block.data(), block.size(), maxEvent);
    std::vector<std::vector<uint8_t>> pieces(cuts.size());
    std::transform(cuts.begin(), cuts.end(), pieces.begin(), [&block](const MessagePiece& piece) {
        return std::vector<uint8_t>(block.begin() + static_cast<long>(piece.start),
                                    block.begin() + static_cast<long>(piece.end));
    });
    return pieces;
}

std::vector<uint8_t> Message(uint8_t fill, size_t size) {
    std::vector<uint8_t> message(size, fill);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// For every byte of a block, the number of the message or of the run of
// bytes outside messages it belongs to, counted by walking the block byte
// by byte: an 0xF0 always begins a message, an 0xF7 in a message ends it,
// and the byte after the end of a message begins something new.
std::vector<int> Sections(const std::vector<uint8_t>& block) {
    std::vector<int> sections;
    int section = -1;
    bool inMessage = false;
    bool ended = true;
    for (uint8_t byte : block) {
        if (byte == 0xF0 || ended) {
            ++section;
            inMessage = byte == 0xF0;
        }
        ended = inMessage && byte == 0xF7;
        sections.push_back(section);
    }
    return sections;
}

TEST(RtMidiWireTest, MessagesThatFitAreOneEventEach) {
    EXPECT_TRUE(SplitIntoEvents(nullptr, 0).empty());
    const std::vector<uint8_t> largest = Message(0x11, kMaxMidiMessage);
    EXPECT_EQ(Pieces(largest, kMaxMidiMessage), std::vector<std::vector<uint8_t>>{largest});
}

TEST(RtMidiWireTest, EachMessageAndEachRunOutsideMessagesIsAnEventOfItsOwn) {
    struct Case {
        const char* what;
        std::vector<uint8_t> block;
        size_t maxEvent;
        std::vector<std::vector<uint8_t>> pieces;
    };
    const Case cases[] = {
        {"messages back to back",
         {0xF0, 0x01, 0xF7, 0xF0, 0xF7, 0xF0, 0x02, 0x03, 0xF7},
         100,
         {{0xF0, 0x01, 0xF7}, {0xF0, 0xF7}, {0xF0, 0x02, 0x03, 0xF7}}},
        {"bytes before, between and after messages",
         {0x41, 0x42, 0xF0, 0x01, 0xF7, 0x00, 0xF0, 0x7F, 0xF7, 0x41},
         100,
         {{0x41, 0x42}, {0xF0, 0x01, 0xF7}, {0x00}, {0xF0, 0x7F, 0xF7}, {0x41}}},
        {"an 0xF7 outside a message stays in its run",
         {0x41, 0xF7, 0x42, 0xF0, 0x01, 0xF7, 0xF7},
         100,
         {{0x41, 0xF7, 0x42}, {0xF0, 0x01, 0xF7}, {0xF7}}},
        {"a message without its 0xF7 ends at the next 0xF0",
         {0xF0, 0x01, 0x02, 0xF0, 0x03, 0xF7, 0xF0, 0xF0},
         100,
         {{0xF0, 0x01, 0x02}, {0xF0, 0x03, 0xF7}, {0xF0}, {0xF0}}},
        {"or with the block", {0xF7, 0xF0, 0x01, 0x02}, 100, {{0xF7}, {0xF0, 0x01, 0x02}}},
        {"a message that just fits",
         {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7},
         3,
         {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}}},
        {"a longer message in pieces, the next one whole",
         {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7, 0xF0, 0x05, 0xF7},
         3,
         {{0xF0, 0x01, 0x02}, {0x03, 0x04, 0xF7}, {0xF0, 0x05, 0xF7}}},
        {"a message one byte over",
         {0x41, 0xF0, 0x01, 0x02, 0xF7},
         3,
         {{0x41}, {0xF0, 0x01, 0x02}, {0xF7}}},
        {"a long run in pieces",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0xF0, 0xF7},
         2,
         {{0x01, 0x02}, {0x03, 0x04}, {0x05}, {0xF0, 0xF7}}},
        {"one byte an event", {0xF0, 0x01, 0xF7, 0x02}, 1, {{0xF0}, {0x01}, {0xF7}, {0x02}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pieces(c.block, c.maxEvent), c.pieces) << c.what;
}

TEST(RtMidiWireTest, MessagesTooBigForOneRtMidiMessageGoOutInPiecesOfTheLargestSize) {
    // The framed message of 16380 bytes, then a chunk of messages of which
    // one is over the limit and one just fits.
    struct Case {
        std::vector<std::vector<uint8_t>> messages;
        std::vector<size_t> sizes;
    };
    const Case cases[] = {
        {{Message(0x22, kMaxMidiMessage + 1)}, {kMaxMidiMessage, 1}},
        {{Message(0x01, 100), Message(0x02, 2 * kMaxMidiMessage + 10),
          Message(0x03, kMaxMidiMessage)},
         {100, kMaxMidiMessage, kMaxMidiMessage, 10, kMaxMidiMessage}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> block;
        for (const std::vector<uint8_t>& message : c.messages)
            block.insert(block.end(), message.begin(), message.end());
        const std::vector<MessagePiece> pieces = SplitIntoEvents(block.data(), block.size());
        std::vector<size_t> sizes;
        size_t next = 0;
        for (const MessagePiece& piece : pieces) {
            EXPECT_EQ(piece.start, next);
            sizes.push_back(piece.end - piece.start);
            next = piece.end;
        }
        EXPECT_EQ(sizes, c.sizes) << block.size() << " bytes";
        EXPECT_EQ(next, block.size());
    }
}

TEST(RtMidiWireTest, EventsCoverTheBlockInOrderAndNoneCrossesAMessage) {
    std::mt19937 random(20240607);
    const uint8_t alphabet[] = {0xF0, 0xF7, 0x00, 0x41, 0x7F};
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> block(1 + random() % 200);
        std::generate(block.begin(), block.end(),
                      [&random, &alphabet] { return alphabet[random() % sizeof alphabet]; });
        const size_t maxEvent = 1 + random() % 20;
        const std::vector<int> sections = Sections(block);
        const std::vector<MessagePiece> pieces =
            SplitIntoEvents(block.data(), block.size(), maxEvent);
        size_t next = 0;
        for (const MessagePiece& piece : pieces) {
            ASSERT_EQ(piece.start, next) << "round " << round;
            ASSERT_GT(piece.end, piece.start) << "round " << round;
            ASSERT_LE(piece.end, block.size()) << "round " << round;
            EXPECT_LE(piece.end - piece.start, maxEvent) << "round " << round;
            // Within one message or run.
            EXPECT_EQ(sections[piece.start], sections[piece.end - 1]) << "round " << round;
            // A piece ends with its message or run, or is as big as allowed:
            // so a message that fits is one piece, and a longer one is cut
            // only where it must be.
            const bool sectionEnds =
                piece.end == block.size() || sections[piece.end] != sections[piece.end - 1];
            EXPECT_TRUE(sectionEnds || piece.end - piece.start == maxEvent) << "round " << round;
            next = piece.end;
        }
        EXPECT_EQ(next, block.size()) << "round " << round;
    }
}

using Bytes = std::vector<uint8_t>;

// Every block added in turn; the pieces handed out, in order, then what is
// still held back.
std::vector<Bytes> AddAll(WholeMessages& messages, const std::vector<Bytes>& blocks) {
    std::vector<Bytes> out;
    for (const Bytes& block : blocks) {
        std::vector<Bytes> pieces = messages.Add(block.data(), block.size());
        out.insert(out.end(), pieces.begin(), pieces.end());
    }
    return out;
}

TEST(WholeMessagesTest, HandsOutWholeMessagesAndHoldsBackAnOpenOneInOrder) {
    struct Case {
        const char* what;
        std::vector<Bytes> blocks;
        std::vector<Bytes> pieces;
        Bytes held;
    };
    const Case cases[] = {
        {"whole messages in one block",
         {{0xF0, 1, 2, 0xF7, 0xF0, 3, 0xF7}},
         {{0xF0, 1, 2, 0xF7}, {0xF0, 3, 0xF7}},
         {}},
        {"a message cut by the blocks, completed by the next",
         {{0xF0, 1, 2}, {3, 4}, {5, 0xF7, 0xF0, 6}},
         {{0xF0, 1, 2, 3, 4, 5, 0xF7}},
         {0xF0, 6}},
        {"real time inside SysEx stays where it came, outside it goes alone",
         {{0xF8, 0xF0, 1, 0xFE}, {2, 0xF7, 0xFC}},
         {{0xF8}, {0xF0, 1, 0xFE, 2, 0xF7}, {0xFC}},
         {}},
        {"channel and system common messages by their length",
         {{0x90, 60}, {100, 0xC0, 5, 0xF2, 1, 2, 0xF6, 0xF1, 9}},
         {{0x90, 60, 100}, {0xC0, 5}, {0xF2, 1, 2}, {0xF6}, {0xF1, 9}},
         {}},
        {"a message cut off by a status byte goes out as it is",
         {{0xF0, 1, 2, 0xF0, 3, 0xF7, 0xF0, 4, 0x90, 1, 2}},
         {{0xF0, 1, 2}, {0xF0, 3, 0xF7}, {0xF0, 4}, {0x90, 1, 2}},
         {}},
        {"data outside any message, running status and a lone F7 are kept in place",
         {{5, 6, 0xF0, 1, 0xF7, 7}, {0x90, 1, 2, 3, 4, 0xF7}},
         {{5, 6}, {0xF0, 1, 0xF7}, {7}, {0x90, 1, 2}, {3, 4}, {0xF7}},
         {}},
        {"an empty block changes nothing", {{0xF0, 1}, {}}, {}, {0xF0, 1}},
    };
    for (const Case& c : cases) {
        WholeMessages messages;
        EXPECT_EQ(AddAll(messages, c.blocks), c.pieces) << c.what;
        EXPECT_EQ(messages.HeldCount(), c.held.size()) << c.what;
        EXPECT_EQ(messages.TakeHeld(), c.held) << c.what;
        EXPECT_EQ(messages.HeldCount(), 0u) << c.what;
    }
}

TEST(WholeMessagesTest, NoByteIsLostOrReorderedWhereverTheBlocksAreCut) {
    // An update's data: SysEx messages of many sizes with real-time bytes
    // among them, cut into blocks of random sizes, comes out as the same
    // bytes, every piece a whole message.
    std::mt19937 random(7);
    Bytes stream;
    for (int message = 0; message < 200; ++message) {
        stream.push_back(0xF0);
        const size_t size = random() % 300;
        for (size_t i = 0; i < size; ++i)
            stream.push_back(random() % 50 == 0 ? 0xF8 : static_cast<uint8_t>(random() % 0x80));
        stream.push_back(0xF7);
    }
    for (int round = 0; round < 20; ++round) {
        WholeMessages messages;
        Bytes joined;
        size_t at = 0;
        while (at < stream.size()) {
            const size_t size = std::min<size_t>(1 + random() % 700, stream.size() - at);
            for (const Bytes& piece : messages.Add(stream.data() + at, size)) {
                EXPECT_TRUE(piece.size() == 1 ? piece[0] >= 0xF8
                                              : piece.front() == 0xF0 && piece.back() == 0xF7)
                    << "round " << round;
                joined.insert(joined.end(), piece.begin(), piece.end());
            }
            at += size;
        }
        EXPECT_EQ(messages.HeldCount(), 0u) << "round " << round;
        EXPECT_EQ(joined, stream) << "round " << round;
    }
}

} // namespace
