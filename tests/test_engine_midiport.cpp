// SysEx assembly from raw input bytes and the port's one-message mailbox.
#include "midiport.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A port whose input is fed by the test, as a driver's input thread would.
class InputOnlyPort : public MidiPort {
public:
    int32_t GetIdealChunkSize() override { return 1024; }
    int32_t GetMaxChunkSize() override { return 3072; }
    bool IsConnected() override { return true; }
    void Disconnect() override {}
    void Send(const uint8_t*, uint32_t) override {}

    void Receive(const Bytes& bytes) {
        for (uint8_t byte : bytes)
            sysExCollector.AddByte(byte);
    }
};

// The members are read through GetParam(), which cppcheck does not follow.
struct CollectorCase {
    // cppcheck-suppress unusedStructMember
    const char* name;
    // cppcheck-suppress unusedStructMember
    std::vector<Bytes> deliveries; // input as the driver hands it over
    // cppcheck-suppress unusedStructMember
    Bytes expected; // what the mailbox holds afterwards
};

class CollectorTest : public ::testing::TestWithParam<CollectorCase> {};

TEST_P(CollectorTest, AssemblesMessages) {
    LogCapture log;
    InputOnlyPort port;
    for (const Bytes& delivery : GetParam().deliveries)
        port.Receive(delivery);
    EXPECT_EQ(port.GetSysEx(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Input, CollectorTest,
    ::testing::Values(CollectorCase{"StrayBytesDropped",
                                    {{0x12, 0x34, 0xF0, 0x01, 0x02, 0xF7, 0x56}},
                                    {0xF0, 0x01, 0x02, 0xF7}},
                      CollectorCase{"SecondStartKept",
                                    {{0xF0, 0x01, 0xF0, 0x02, 0xF7}},
                                    {0xF0, 0x01, 0xF0, 0x02, 0xF7}},
                      CollectorCase{"EmptyMessage", {{0xF0, 0xF7}}, {0xF0, 0xF7}},
                      CollectorCase{"SplitOverThreeDeliveries",
                                    {{0xF0, 0x01}, {0x02, 0x03}, {0x04, 0xF7}},
                                    {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7}},
                      CollectorCase{"LaterMessageOverwrites",
                                    {{0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7}},
                                    {0xF0, 0x02, 0xF7}},
                      CollectorCase{"UnfinishedMessageNotStored", {{0xF0, 0x01, 0x02}}, {}},
                      CollectorCase{"RealTimeBytesInsideAreTakenOut",
                                    {{0xF0, 0x01, 0xFE}, {0xF8, 0x02, 0xFF, 0xFA, 0xF7}},
                                    {0xF0, 0x01, 0x02, 0xF7}}),
    [](const ::testing::TestParamInfo<CollectorCase>& info) { return info.param.name; });

TEST(CollectorTest, LogsStartEndAndFirstTwentyBytes) {
    LogCapture log;
    InputOnlyPort port;
    Bytes message = {0xF0};
    for (uint8_t i = 1; i <= 23; ++i)
        message.push_back(i);
    message.push_back(0xF7);
    port.Receive(message);
    EXPECT_TRUE(log.Contains("SOXEOX size=25"));
    EXPECT_TRUE(
        log.Contains("MidiPort::GotSysEx: 25 bytes { 0xf0 0x01 0x02 0x03 0x04 0x05 0x06 "
                     "0x07 0x08 0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f 0x10 0x11 0x12 0x13 }\n"));
}

TEST(MailboxTest, GetCopiesClearEmptiesTakeDoesBoth) {
    LogCapture log;
    InputOnlyPort port;
    EXPECT_TRUE(port.GetSysEx().empty());
    port.Receive({0xF0, 0x7E, 0xF7});
    EXPECT_EQ(port.GetSysEx(), (Bytes{0xF0, 0x7E, 0xF7}));
    EXPECT_EQ(port.GetSysEx(), (Bytes{0xF0, 0x7E, 0xF7})) << "GetSysEx must not empty the store";
    port.ClearSysEx();
    EXPECT_TRUE(port.GetSysEx().empty());

    port.Receive({0xF0, 0x01, 0xF7});
    EXPECT_EQ(port.TakeSysEx(), (Bytes{0xF0, 0x01, 0xF7}));
    EXPECT_TRUE(port.GetSysEx().empty());
    EXPECT_TRUE(port.TakeSysEx().empty());
}

TEST(MailboxTest, BaseRequestSendsNothingAndReturnsNothing) {
    LogCapture log;
    InputOnlyPort port;
    port.Receive({0xF0, 0x01, 0xF7});
    const uint8_t request[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_TRUE(port.Request(5000, request, sizeof request).empty());
    EXPECT_EQ(port.GetSysEx(), (Bytes{0xF0, 0x01, 0xF7}));
}

} // namespace
