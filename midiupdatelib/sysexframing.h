// How a port puts one block of update data on the wire. With the settings'
// chunks flag on, every block goes out as one complete SysEx message; every
// port sends by this rule (MidiPort::SendBlock), and the emulated device uses
// it to know the exact bytes to expect.
#pragma once

#include <cstdint>
#include <vector>

// The block as one complete SysEx message: 0xF0 in front unless the block
// begins with 0xF0, 0xF7 at the end unless it ends with 0xF7. An empty block
// stays empty (nothing is sent for it).
std::vector<uint8_t> FrameSysExChunk(const uint8_t* data, uint32_t count);

// The block as the port sends it: framed when `chunks` is set, else as it is.
std::vector<uint8_t> WireMessage(const uint8_t* data, uint32_t count, bool chunks);
