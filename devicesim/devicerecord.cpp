// What the device keeps of the bytes it receives: the first kKeptBytesLimit
// in memory, and all of them in the record file when one is set.
#include "devicesim.h"

#include "devicesimcommon.h"
#include "utils.h"

#include <algorithm>
#include <stdexcept>

using devicesim::kTag;

void DeviceSim::SetRecordFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    recordFile.close();
    recordFile.clear();
    recordFile.open(path, std::ios::binary | std::ios::trunc);
    if (!recordFile.is_open())
        throw std::runtime_error("Can't open the record file \"" + path + "\" for writing.");
}

std::vector<uint8_t> DeviceSim::GetReceivedBytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

uint64_t DeviceSim::GetReceivedByteCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return receivedCount;
}

bool DeviceSim::HasRecordFileFailed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recordFile.is_open() && !recordFile.good();
}

void DeviceSim::RecordLocked(const uint8_t* bytes, size_t count) {
    receivedCount += count;
    const size_t room = kKeptBytesLimit - received.size();
    if (count > room && room > 0)
        LogText("%s: keeps only the first %u received bytes in memory\n", kTag,
                static_cast<unsigned>(kKeptBytesLimit));
    received.insert(received.end(), bytes, bytes + std::min(count, room));
    if (recordFile.is_open()) {
        recordFile.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
        recordFile.flush();
    }
}
