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

namespace {

// The length of a message that begins with this status byte, real-time
// bytes and SysEx aside.
size_t MessageLength(uint8_t status) {
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3; // program change, channel pressure: 2
    switch (status) {
    case 0xF1: // time code quarter frame
    case 0xF3: // song select
        return 2;
    case 0xF2: // song position
        return 3;
    default: // tune request, and the undefined 0xF4 and 0xF5
        return 1;
    }
}

} // namespace

std::vector<std::vector<uint8_t>> WholeMessages::Add(const uint8_t* data, size_t count) {
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; at < count; ++at) {
        const uint8_t byte = data[at];
        if (byte >= 0xF8) {
            // Real time: inside an open message, where it came; else on its own.
            if (!held.empty()) {
                held.push_back(byte);
            } else {
                EndStray(out);
                out.push_back({byte});
            }
            continue;
        }
        if (byte < 0x80) {
            if (held.empty()) {
                stray.push_back(byte);
                continue;
            }
            held.push_back(byte);
            if (heldLength != 0 && held.size() >= heldLength + RealTimeInHeld())
                EndHeld(out);
            continue;
        }
        // A status byte ends whatever came before it.
        EndStray(out);
        if (byte == 0xF7 && !held.empty() && heldLength == 0) {
            held.push_back(byte);
            EndHeld(out);
            continue;
        }
        EndHeld(out);
        if (byte == 0xF7) {
            out.push_back({byte});
            continue;
        }
        held.push_back(byte);
        heldLength = byte == 0xF0 ? 0 : MessageLength(byte);
        if (heldLength == 1)
            EndHeld(out);
    }
    EndStray(out);
    return out;
}

std::vector<uint8_t> WholeMessages::TakeHeld() {
    std::vector<uint8_t> bytes;
    bytes.swap(held);
    heldLength = 0;
    return bytes;
}

size_t WholeMessages::RealTimeInHeld() const {
    return static_cast<size_t>(
        std::count_if(held.begin(), held.end(), [](uint8_t byte) { return byte >= 0xF8; }));
}

void WholeMessages::EndHeld(std::vector<std::vector<uint8_t>>& out) {
    if (!held.empty())
        out.push_back(TakeHeld());
}

void WholeMessages::EndStray(std::vector<std::vector<uint8_t>>& out) {
    if (stray.empty())
        return;
    out.push_back(std::move(stray));
    stray.clear();
}
