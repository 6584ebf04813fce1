// The input path across threads, in real time: the device's driver thread
// feeds the port's collector while the test thread polls for messages. Run
// it under ThreadSanitizer as well.
#include "devicesim.h"
#include "simport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A message that tells which one it is and has a length of its own.
Bytes NumberedMessage(int number) {
    Bytes message = {0xF0, static_cast<uint8_t>(number & 0x7F),
                     static_cast<uint8_t>((number >> 7) & 0x7F)};
    const int length = 1 + (number * 37) % 300;
    for (int i = 0; i < length; ++i)
        message.push_back(static_cast<uint8_t>((i * 13 + number) & 0x7F));
    message.push_back(0xF7);
    return message;
}

TEST(DeviceSimThreads, AnswersDeliveredInPiecesArriveWhole) {
    LogCapture log;
    DeviceSim device({}, defaultPortSettings);
    PortSettings settings = defaultPortSettings;
    settings.names = {};
    SimMidiPort port(device, settings);
    ASSERT_TRUE(port.IsConnected());

    const int kMessages = 200;
    for (int number = 0; number < kMessages; ++number) {
        const Bytes message = NumberedMessage(number);
        // A stray byte outside any message, then the message in small pieces,
        // all due together or a little later.
        const int64_t delayMs = number % 3;
        device.ScheduleSend(delayMs, {0x55});
        const size_t piece = 1 + number % 7;
        for (size_t at = 0; at < message.size(); at += piece) {
            const size_t end = std::min(message.size(), at + piece);
            device.ScheduleSend(delayMs, Bytes(message.begin() + static_cast<std::ptrdiff_t>(at),
                                               message.begin() + static_cast<std::ptrdiff_t>(end)));
        }

        // While the pieces arrive, a look at the mailbox finds nothing or the
        // whole message, never a part of it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Bytes taken;
        while (taken.empty() && std::chrono::steady_clock::now() < giveUp) {
            Bytes seen = port.GetSysEx();
            if (!seen.empty()) {
                ASSERT_EQ(seen, message) << "message " << number;
                taken = port.TakeSysEx();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
        ASSERT_EQ(taken, message) << "message " << number;
    }
    // The port logs a message just after storing it, so the last line may
    // still be on its way on the device's thread.
    const auto logGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (log.Count("MidiPort::GotSysEx") < static_cast<size_t>(kMessages) &&
           std::chrono::steady_clock::now() < logGiveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(log.Count("MidiPort::GotSysEx"), static_cast<size_t>(kMessages));

    // An answer due far in the future must not hold up the device's end.
    device.ScheduleSend(3600000, NumberedMessage(0));
    port.Disconnect();
}

} // namespace
