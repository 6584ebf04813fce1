#include "midiwire.h"

#include <cassert>

uint32_t WireTimeMs(uint64_t byteCount) {
    const uint64_t bitMs = byteCount * kMidiBitsPerByte * 1000;
    return static_cast<uint32_t>((bitMs + kMidiBitsPerSecond - 1) / kMidiBitsPerSecond);
}

std::vector<MessagePiece> SplitMessage(const uint8_t* data, size_t count, size_t maxPiece) {
    assert(maxPiece > 0);
    std::vector<MessagePiece> pieces;
    size_t start = 0;
    while (start < count) {
        size_t end = count - start <= maxPiece ? count : start + maxPiece;
        if (end < count) {
            // The latest cut within reach after which the piece does not end
            // with 0xF7 and the next does not start with 0xF0.
            size_t cut = end;
            while (cut > start && (data[cut - 1] == 0xF7 || data[cut] == 0xF0))
                --cut;
            if (cut > start)
                end = cut;
        }
        pieces.push_back({start, end});
        start = end;
    }
    return pieces;
}
