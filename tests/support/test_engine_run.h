// Shared by the engine's tests: test updates, and one run of the whole
// sender in virtual time against the emulated device.
#pragma once

#include "devicesim.h"
#include "sendupdate.h"
#include "simport.h"
#include "testsupport.h"
#include "virtualclock.h"

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace enginetest {

using Bytes = std::vector<uint8_t>;

const char* const kProduct = "Kestrane Virtual Device";

// The data and delay of one portion of a test update.
struct TestPortion {
    Bytes data;
    uint32_t delay;
};

inline Update MakeUpdate(const std::vector<TestPortion>& portions, uint16_t major = 1,
                         uint16_t minor = 5, const std::string& settings = "") {
    UpdateFileBuilder file;
    file.Header(kProduct, major, minor);
    for (const TestPortion& portion : portions)
        file.Portion(portion.data, portion.delay);
    if (!settings.empty())
        file.Settings(settings);
    std::istringstream stream(file.Data());
    return Update(stream);
}

// Several complete SysEx messages of 7-bit data, `size` bytes in all. No
// data byte is 0x0A, on which a chunk may end in the middle of a message.
inline Bytes SysExData(size_t size) {
    Bytes data;
    while (data.size() < size) {
        data.push_back(0xF0);
        for (int i = 0; i < 60 && data.size() + 1 < size; ++i)
            data.push_back(static_cast<uint8_t>((data.size() * 7) & 0x7F) | 0x01);
        data.push_back(0xF7);
    }
    data.resize(size);
    data.back() = 0xF7;
    return data;
}

// One run of the sender in virtual time. The clock is installed before the
// device exists, as the device follows it.
class SenderRun {
public:
    explicit SenderRun(const Update& update)
        : update(update), time(clock),
          device(
              std::make_unique<DeviceSim>(PortionData(update), update.GetPortSettings(), &clock)) {}

    ~SenderRun() {
        port.reset(); // every port goes before its device
        device.reset();
    }

    // Runs SysExSender::Send with the update's own port settings.
    void Send() {
        port = std::make_unique<SimMidiPort>(*device, update.GetPortSettings());
        SimpleSysExSender sender(*port);
        startMs = GetTimeMs();
        result = sender.Send(update, progress);
        endMs = GetTimeMs();
    }

    std::string Outcome() const {
        return progress.completed.size() == 1 ? progress.completed[0] : "<not one outcome>";
    }

    size_t IndexOf(const std::string& call, size_t from = 0) const {
        auto found = std::find(progress.calls.begin() + from, progress.calls.end(), call);
        return static_cast<size_t>(found - progress.calls.begin());
    }

    const Update& update;
    VirtualClock clock;
    ScopedVirtualTime time;
    LogCapture log;
    RecordingProgress progress;
    std::unique_ptr<DeviceSim> device;
    std::unique_ptr<SimMidiPort> port;
    SendResult result;
    int64_t startMs = 0;
    int64_t endMs = 0;
};

} // namespace enginetest
