// Follows the wire messages of one update portion as the device receives
// them and tells when the whole portion has arrived and whether it arrived
// intact.
//
// With SysEx framing on, the port sends every block as one complete message:
// 0xF0 in front unless the block begins with 0xF0, 0xF7 at the end unless it
// ends with 0xF7. The wire alone cannot say whether a final 0xF7 is framing or
// data, so the matcher reads each message against the expected data: the
// leading 0xF0 is framing exactly when the expected byte is not 0xF0, and
// where the expected data has a 0xF7 at the message's end both readings are
// kept as positions in the data; later messages prune the readings that stop
// matching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class PortionMatcher {
public:
    // The matcher keeps a reference to data, which must outlive it.
    PortionMatcher(const std::vector<uint8_t>& data, bool chunks);

    // Whether the message continues the expected data, byte for byte, under
    // some reading of its framing.
    bool Continues(const std::vector<uint8_t>& message) const;

    // Takes a message as the portion's next block. A message that does not
    // continue the data is a difference: the first one is kept, and from then
    // on messages are followed by their length alone, so that the end of the
    // portion is still found.
    void Take(const std::vector<uint8_t>& message);

    // A reading has reached exactly the end of the data (at once for no data).
    bool IsComplete() const;
    // No difference so far.
    bool IsMatched() const { return differenceOffset < 0; }

    // Where the first difference lies in the data, -1 when there is none.
    int64_t GetDifferenceOffset() const { return differenceOffset; }
    // The expected and the received byte there; -1 stands for none (the
    // message ran past the end of the data, or ended before the data did).
    int GetExpectedByte() const { return expectedByte; }
    int GetReceivedByte() const { return receivedByte; }

    // Data bytes received so far, by the longest reading.
    size_t GetPosition() const;

private:
    std::vector<size_t> Readings(size_t position, const std::vector<uint8_t>& message,
                                 bool exact) const;
    void NoteDifference(size_t position, const std::vector<uint8_t>& message);

    const std::vector<uint8_t>& data;
    bool chunks;
    std::vector<size_t> positions; // sorted readings: data bytes received so far
    int64_t differenceOffset = -1;
    int expectedByte = -1;
    int receivedByte = -1;
};
