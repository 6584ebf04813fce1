#include "portionwire.h"

#include "sysexframing.h"

#include <algorithm>

PortionWire::PortionWire(const std::vector<uint8_t>& data, const PortSettings& settings)
    : remaining{data.data(), data.data() + data.size()}, ideal(settings.ideal), max(settings.max),
      chunks(settings.chunks) {
    Advance();
}

void PortionWire::Advance() {
    offset += message.size();
    message.clear();
    if (remaining.IsEmpty())
        return;
    // The same cut as the sender's, and the same framing as the port's.
    const ByteRange chunk = NextChunk(remaining, ideal, max);
    message = WireMessage(chunk.start, chunk.Size(), chunks);
    remaining.AdvanceStart(chunk.Size());
}

std::vector<std::vector<uint8_t>> PortionWireImage(const std::vector<uint8_t>& data,
                                                   const PortSettings& settings) {
    std::vector<std::vector<uint8_t>> image;
    for (PortionWire wire(data, settings); !wire.IsDone(); wire.Advance())
        image.push_back(wire.GetMessage());
    return image;
}

uint64_t PortionWireSize(const std::vector<uint8_t>& data, const PortSettings& settings) {
    PortionWire wire(data, settings);
    while (!wire.IsDone())
        wire.Advance();
    return wire.GetOffset();
}

MessageDifference FirstDifference(const std::vector<uint8_t>& expected,
                                  const std::vector<uint8_t>& received) {
    MessageDifference difference;
    const auto mismatch =
        std::mismatch(expected.begin(), expected.end(), received.begin(), received.end());
    if (mismatch.first == expected.end() && mismatch.second == received.end())
        return difference;
    difference.index = mismatch.first - expected.begin();
    if (mismatch.first != expected.end())
        difference.expected = *mismatch.first;
    if (mismatch.second != received.end())
        difference.received = *mismatch.second;
    return difference;
}
