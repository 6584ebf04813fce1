// The wire image of one update portion: the messages that carry it, in order,
// exactly as the sender cuts the portion into chunks and the port puts each
// chunk on the wire. The device reads what it receives against this image,
// so it counts a portion's end by messages and never has to guess which byte
// of a message is framing (a lone 0xF0, a lone 0xF7 and 0xF0 0xF7 all go out
// as F0 F7 when the port frames them).
#pragma once

#include "portsettings.h"
#include "sendupdate.h"

#include <cstdint>
#include <vector>

class PortionWire {
public:
    // Keeps pointers into data, which must outlive it and stay unchanged.
    PortionWire(const std::vector<uint8_t>& data, const PortSettings& settings);

    // Whether every message has been passed (at once for no data).
    bool IsDone() const { return message.empty(); }
    // The message expected next; empty once done.
    const std::vector<uint8_t>& GetMessage() const { return message; }
    // Wire bytes of the messages before it.
    uint64_t GetOffset() const { return offset; }
    // Goes on to the next message.
    void Advance();

private:
    ByteRange remaining;
    int32_t ideal;
    int32_t max;
    bool chunks;
    std::vector<uint8_t> message;
    uint64_t offset = 0;
};

// Every message of a portion's wire image, in order.
std::vector<std::vector<uint8_t>> PortionWireImage(const std::vector<uint8_t>& data,
                                                   const PortSettings& settings);
// The bytes of a portion's wire image, framing included.
uint64_t PortionWireSize(const std::vector<uint8_t>& data, const PortSettings& settings);

// Where a received message first differs from the expected one.
struct MessageDifference {
    int64_t index = -1; // -1 when the messages are equal
    int expected = -1;  // the bytes there; -1 where a message has already ended
    int received = -1;
};
MessageDifference FirstDifference(const std::vector<uint8_t>& expected,
                                  const std::vector<uint8_t>& received);
