// What the files that make up DeviceSim share: the tag of its log lines and
// its time arithmetic. Internal to the device; nothing else includes it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace devicesim {

constexpr const char* kTag = "DeviceSim";

// A time ms after `at`, held at the clock's end instead of running past it.
inline int64_t LaterMs(int64_t at, int64_t ms) {
    constexpr int64_t kEnd = std::numeric_limits<int64_t>::max();
    ms = std::max<int64_t>(ms, 0);
    return at > kEnd - ms ? kEnd : at + ms;
}

} // namespace devicesim
