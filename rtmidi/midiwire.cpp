#include "midiwire.h"

#include <algorithm>
#include <cassert>

uint32_t WireTimeMs(uint64_t byteCount) {
    const uint64_t bitMs = byteCount * kMidiBitsPerByte * 1000;
    return static_cast<uint32_t>((bitMs + kMidiBitsPerSecond - 1) / kMidiBitsPerSecond);
}

namespace {

// The end of the message, or of the run of bytes outside messages, that
// begins at `start`.
size_t MessageEnd(const uint8_t* data, size_t count, size_t start) {
    // Called only with start < count, so data holds that byte even when the
    // caller's empty block came as a null pointer.
    // cppcheck-suppress ctunullpointer
    const bool message = data[start] == 0xF0;
    for (size_t at = start + 1; at < count; ++at) {
        if (data[at] == 0xF0)
            return at;
        if (message && data[at] == 0xF7)
            return at + 1;
    }
    return count;
}

} // namespace

std::vector<MessagePiece> SplitIntoEvents(const uint8_t* data, size_t count, size_t maxEvent) {
    assert(maxEvent > 0);
    std::vector<MessagePiece> pieces;
    size_t start = 0;
    while (start < count) {
        const size_t messageEnd = MessageEnd(data, count, start);
        while (start < messageEnd) {
            const size_t end = start + std::min(maxEvent, messageEnd - start);
            pieces.push_back({start, end});
            start = end;
        }
    }
    return pieces;
}
