// The RtMidi port in this process against the emulated device behind
// virtual ports on a JACK server: a block too big for one RtMidi message
// arrives whole, Request really asks, and a device that vanishes shows as
// not connected until it is back.
//
// CTest starts the JACK server (tools/jack-env.sh, the dummy back end) and
// names it in JACK_DEFAULT_SERVER; without it the tests are skipped.
#include "devicesim.h"
#include "midisystem.h"
#include "rtmidiport.h"
#include "sendupdate.h"
#include "simmessages.h"
#include "testsupport.h"
#include "virtualdevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Generous for a loaded machine; nothing depends on it being tight.
constexpr int64_t kArrivalLimitMs = 60000;

// The emulated device as a JACK device, its messages handed over by a
// thread of its own, as kestrane-cli sim does.
class JackDevice {
public:
    JackDevice(DeviceSim& device, const std::string& name)
        : ports(std::make_unique<VirtualMidiDevice>(device, MidiSystem::Jack, name)), pump([this] {
              while (!stopping)
                  ports->Pump(10);
          }) {}
    ~JackDevice() {
        stopping = true;
        pump.join();
    }
    JackDevice(const JackDevice&) = delete;
    JackDevice& operator=(const JackDevice&) = delete;

private:
    std::unique_ptr<VirtualMidiDevice> ports;
    std::atomic<bool> stopping{false};
    std::thread pump;
};

std::vector<uint8_t> Message(uint8_t fill, size_t size) {
    std::vector<uint8_t> message(size, fill);
    message.front() = 0xF0;
    message.back() = 0xF7;
    return message;
}

// Polls until the condition holds or the limit has passed.
template <class Condition> bool Eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kArrivalLimitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class JackPortTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("JACK_DEFAULT_SERVER") == nullptr)
            GTEST_SKIP() << "needs the JACK server that CTest starts (tools/jack-env.sh)";
        ASSERT_EQ(MidiSystemProblem(MidiSystem::Jack), "");
        name = "Jack Port " + std::to_string(static_cast<long>(getpid()));
        settings = defaultPortSettings;
        settings.names = {name};
        settings.delay = 0;
        settings.unprepdelay = 0;
    }

    std::string name;
    PortSettings settings;
};

TEST_F(JackPortTest, BlockTooBigForOneMessageArrivesWhole) {
    // No maximum: the whole message is one chunk, bigger than the largest
    // message RtMidi passes on.
    settings.max = -1;
    const std::vector<uint8_t> block = Message(0x15, 20000);
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({block}, settings);
    device.SetPortNames(name, name);
    JackDevice jack(device, name);

    RtMidiPort port(settings, MidiSystem::Jack);
    ASSERT_TRUE(port.IsConnected());
    port.Send(block.data(), static_cast<uint32_t>(block.size()));
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    EXPECT_TRUE(log.Contains("20000 bytes in 2 pieces")) << log.Text();

    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }))
        << device.GetReceivedBytes().size() << " bytes arrived";
    EXPECT_EQ(device.GetReceivedBytes(), block);
    EXPECT_TRUE(device.GetPortionReports()[0].matched);
    // The device's answer comes back through the port's input.
    EXPECT_EQ(GetUpdateStatus(port, kArrivalLimitMs), Accepted);
}

TEST_F(JackPortTest, RequestAsksTheDeviceAndWaitsForItsAnswer) {
    DeviceSim device({Message(0x01, 8)}, settings);
    device.SetPortNames(name, name);
    device.SetFirmwareVersion("1.23");
    JackDevice jack(device, name);

    RtMidiPort port(settings, MidiSystem::Jack);
    const std::vector<uint8_t>& request = IdentityRequest();
    // A closed port connects for the request, as after the sender's last
    // portion.
    EXPECT_EQ(port.Request(kArrivalLimitMs, request.data(), static_cast<uint32_t>(request.size())),
              BuildIdentityReply(ParseIdentityVersion("1.23")));
    EXPECT_EQ(device.GetIdentityRequestCount(), 1);

    device.SetIdentityEnabled(false);
    EXPECT_TRUE(port.Request(500, request.data(), static_cast<uint32_t>(request.size())).empty());
    EXPECT_EQ(device.GetIdentityRequestCount(), 2);
}

TEST_F(JackPortTest, VanishedDeviceIsNotConnectedUntilItIsBack) {
    LogCapture log; // before the threads that log, and gone only after them
    DeviceSim device({Message(0x01, 8), Message(0x02, 8)}, settings);
    device.SetPortNames(name, name);
    RtMidiPort port(settings, MidiSystem::Jack);
    {
        JackDevice jack(device, name);
        ASSERT_TRUE(port.IsConnected());
        const std::vector<uint8_t> first = Message(0x01, 8);
        port.Send(first.data() + 1, 6); // framed by the port
        ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 1; }));
    }
    EXPECT_FALSE(port.IsConnected());
    EXPECT_TRUE(log.Contains("is gone")) << log.Text();
    const std::vector<uint8_t> second = Message(0x02, 8);
    port.Send(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(port.TakeSendFailures(), 1u);

    // As the sender does: disconnect, and the next question looks again.
    port.Disconnect();
    JackDevice back(device, name);
    ASSERT_TRUE(port.IsConnected());
    port.Send(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(port.TakeSendFailures(), 0u);
    ASSERT_TRUE(Eventually([&device] { return device.GetExpectedPortion() == 2; }));
    EXPECT_TRUE(device.GetPortionReports()[1].matched);
}

} // namespace
