#include "sysexframing.h"

#include <cstddef>

namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;

} // namespace

std::vector<uint8_t> FrameSysExChunk(const uint8_t* data, uint32_t count) {
    std::vector<uint8_t> framed;
    if (count == 0)
        return framed;
    framed.reserve(static_cast<size_t>(count) + 2u);
    if (data[0] != kSysExStart)
        framed.push_back(kSysExStart);
    framed.insert(framed.end(), data, data + count);
    if (data[count - 1] != kSysExEnd)
        framed.push_back(kSysExEnd);
    return framed;
}

std::vector<uint8_t> WireMessage(const uint8_t* data, uint32_t count, bool chunks) {
    if (chunks)
        return FrameSysExChunk(data, count);
    return std::vector<uint8_t>(data, data + count);
}
