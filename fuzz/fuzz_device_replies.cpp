// Feeds arbitrary bytes, as a device would send them, to everything that
// reads what a device says: the SysEx collector of a port (in pieces, as a
// driver delivers input), the update-status check and poll, and the reader
// of the Identity Reply. Crashes, undefined behaviour, reads past a message
// and leaks are failures; no input may make a reader misbehave.
#include "midiport.h"
#include "sendupdate.h"
#include "utils.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

class QuietLog : public LogSink {
public:
    void Write(const char*) override {}
};

// A port fed directly with input bytes; it cannot send.
class InputOnlyPort : public MidiPort {
public:
    int32_t GetIdealChunkSize() override { return 1024; }
    int32_t GetMaxChunkSize() override { return 3072; }
    bool IsConnected() override { return true; }
    void Disconnect() override {}
    void Send(const uint8_t*, uint32_t) override {}
    void Feed(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i)
            sysExCollector.AddByte(bytes[i]);
    }
};

void ReadAsADeviceAnswer(const std::vector<uint8_t>& message) {
    volatile int status = CheckSysExUpdateStatus(message);
    DeviceIdentity identity = ParseDeviceEnquiryResponse(message);
    volatile size_t seen = identity.manufacturer.size() + identity.family.size() +
                           identity.version.size() + identity.name.size() + status;
    (void)seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QuietLog quiet;
    static LogSink* previous = SetLogSink(&quiet);
    (void)previous;
    if (size == 0)
        return 0;
    // The first byte chooses how the rest is cut into driver deliveries.
    const size_t piece = static_cast<size_t>(data[0] % 64) + 1;
    const uint8_t* bytes = data + 1;
    const size_t count = size - 1;

    ReadAsADeviceAnswer(std::vector<uint8_t>(bytes, bytes + count));

    InputOnlyPort port;
    for (size_t at = 0; at < count; at += piece) {
        port.Feed(bytes + at, count - at < piece ? count - at : piece);
        ReadAsADeviceAnswer(port.GetSysEx());
        // A stored message is taken at once, so the poll never sleeps here.
        if (!port.GetSysEx().empty()) {
            volatile int status = GetUpdateStatus(port, 0);
            (void)status;
        }
    }
    return 0;
}
