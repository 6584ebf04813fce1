// The WinMM port without a device: its callbacks fed by hand, as WinMM calls
// them, and a port whose device is not there.
#include "testsupport.h"
#include "winmidiport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// No Windows system has a MIDI device of this name.
const char* const kAbsentName = "Kestrane Absent Device 7f3a";

PortSettings SettingsFor(const std::string& name) {
    PortSettings settings = defaultPortSettings;
    settings.names = {name};
    settings.delay = 0;
    settings.unprepdelay = 0;
    return settings;
}

// Returns one input buffer to the port as WinMM does, through the function
// registered with midiInOpen; recorded is the byte count the driver filled.
void ReturnBuffer(WindowsMidiPort& port, const std::vector<uint8_t>& bytes,
                  UINT message = MIM_LONGDATA) {
    std::vector<uint8_t> buffer(bytes);
    buffer.resize(WindowsMidiPort::kInputBufferSize, 0xEE);
    MIDIHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(buffer.data());
    header.dwBufferLength = WindowsMidiPort::kInputBufferSize;
    header.dwBytesRecorded = static_cast<DWORD>(bytes.size());
    header.dwFlags = MHDR_DONE | MHDR_PREPARED;
    WindowsMidiPort::MidiInProc(nullptr, message, reinterpret_cast<DWORD_PTR>(&port),
                                reinterpret_cast<DWORD_PTR>(&header), 0);
}

std::vector<uint8_t> Message(size_t size, uint8_t first) {
    std::vector<uint8_t> message(size);
    message.front() = 0xF0;
    for (size_t i = 1; i + 1 < size; ++i)
        message[i] = static_cast<uint8_t>((first + i) & 0x7F);
    message.back() = 0xF7;
    return message;
}

TEST(WindowsMidiPortInputTest, ReplyOverSeveralBuffersIsAssembledWhole) {
    LogCapture log;
    WindowsMidiPort port(SettingsFor(kAbsentName));
    const std::vector<uint8_t> reply = Message(600, 3);
    // Stray bytes before the message are dropped by the collector.
    std::vector<uint8_t> first = {0x12, 0x34};
    first.insert(first.end(), reply.begin(), reply.begin() + 254);
    ReturnBuffer(port, first);
    EXPECT_TRUE(port.GetSysEx().empty()) << "incomplete message taken";
    ReturnBuffer(port, std::vector<uint8_t>(reply.begin() + 254, reply.begin() + 510));
    ReturnBuffer(port, std::vector<uint8_t>(reply.begin() + 510, reply.end()));

    EXPECT_EQ(port.GetSysEx(), reply);
    EXPECT_EQ(log.Count("MIM longdata message(256)\n"), 2u);
    EXPECT_EQ(log.Count("MIM longdata message(90)\n"), 1u);
    // The port never connected, so it does not listen: nothing is queued again.
    EXPECT_FALSE(log.Contains("Error recycling buffer"));
}

TEST(WindowsMidiPortInputTest, OnlyLongDataIsCollected) {
    LogCapture log;
    WindowsMidiPort port(SettingsFor(kAbsentName));
    ReturnBuffer(port, {0xF0, 0x01, 0xF7}, MIM_LONGERROR);
    ReturnBuffer(port, {0xF0, 0x02, 0xF7}, MIM_DATA);
    EXPECT_TRUE(port.GetSysEx().empty());
    ReturnBuffer(port, {0xF0, 0x03, 0xF7});
    EXPECT_EQ(port.GetSysEx(), (std::vector<uint8_t>{0xF0, 0x03, 0xF7}));
}

TEST(WindowsMidiPortInputTest, RequestReturnsTheStoredMessageAndSendsNothing) {
    LogCapture log;
    WindowsMidiPort port(SettingsFor(kAbsentName));
    const uint8_t identityRequest[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_TRUE(port.Request(5000, identityRequest, sizeof identityRequest).empty());

    ReturnBuffer(port, {0xF0, 0x10, 0x20, 0xF7});
    log.Clear();
    const std::vector<uint8_t> stored = {0xF0, 0x10, 0x20, 0xF7};
    EXPECT_EQ(port.Request(5000, identityRequest, sizeof identityRequest), stored);
    EXPECT_EQ(port.GetSysEx(), stored) << "Request must leave the message stored";
    // Not even a connection attempt: nothing is logged.
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(port.TakeSendFailures(), 0u);
}

TEST(WindowsMidiPortCallbackTest, EveryMessageIsLogged) {
    struct Case {
        UINT message;
        const char* inText;
        const char* outText;
    };
    const Case cases[] = {
        {MIM_OPEN, "MIM open message\n", "MIM message\n"},
        {MIM_CLOSE, "MIM close message\n", "MIM message\n"},
        {MIM_DATA, "MIM data message\n", "MIM message\n"},
        {MIM_LONGDATA, "MIM longdata message(0)\n", "MIM message\n"},
        {MIM_ERROR, "MIM_ERROR message\n", "MIM message\n"},
        {MIM_LONGERROR, "MIM_LONGERROR message\n", "MIM message\n"},
        {MOM_OPEN, "MOM message (ERROR)\n", "MOM open message\n"},
        {MOM_CLOSE, "MOM message (ERROR)\n", "MOM close message\n"},
        {MOM_DONE, "MOM message (ERROR)\n", "MOM done message (NOT pausing)\n"},
        {MIM_MOREDATA, "Unknown MIDI IN callback message\n", "Unknown MIDI OUT callback message\n"},
        {0, "Unknown MIDI IN callback message\n", "Unknown MIDI OUT callback message\n"},
    };
    WindowsMidiPort port(SettingsFor(kAbsentName));
    for (const Case& c : cases) {
        LogCapture log;
        ReturnBuffer(port, {}, c.message);
        EXPECT_EQ(log.Text(), c.inText) << "message 0x" << std::hex << c.message;
        log.Clear();
        MIDIHDR header = {};
        WindowsMidiPort::MidiOutProc(nullptr, c.message, reinterpret_cast<DWORD_PTR>(&port),
                                     reinterpret_cast<DWORD_PTR>(&header), 0);
        EXPECT_EQ(log.Text(), c.outText) << "message 0x" << std::hex << c.message;
    }
}

TEST(WindowsMidiPortAbsentTest, NotConnectedAndEveryAttemptLooksAgain) {
    LogCapture log;
    {
        WindowsMidiPort port(SettingsFor(kAbsentName));
        EXPECT_FALSE(port.IsConnected());
        EXPECT_FALSE(port.IsConnected());
        EXPECT_EQ(log.Count("WindowsMidiPort::Connect\n"), 2u);
        EXPECT_EQ(log.Count("ListInterfaces output...\n"), 2u);
        EXPECT_EQ(log.Count("MIDI OUT Port failed to open.\n"), 2u);
        EXPECT_EQ(log.Count("MIDI IN Port failed to open (-1066).\n"), 2u);
        EXPECT_TRUE(log.Contains("WindowsMidiPort::IsConnected:"));
        EXPECT_TRUE(log.Contains(" connected=no (handle="));
        EXPECT_FALSE(log.Contains("connected=yes"));
        log.Clear();
    }
    // Destruction disconnects even a port that never connected.
    EXPECT_EQ(log.Text(), "WindowsMidiPort::Disconnect\n");
}

TEST(WindowsMidiPortAbsentTest, EachBlockThatCannotGoOutIsCounted) {
    LogCapture log;
    WindowsMidiPort port(SettingsFor(kAbsentName));
    const uint8_t block[] = {0x01, 0x02, 0x03};
    port.Send(block, sizeof block);
    port.SendVerbatim(block, sizeof block);
    EXPECT_EQ(log.Count("Can't send MIDI, not connected\n"), 2u);
    EXPECT_EQ(port.TakeSendFailures(), 2u);

    // An empty block logs its call and goes nowhere, not even to a connection attempt.
    log.Clear();
    port.Send(block, 0);
    EXPECT_EQ(log.Text(), "WindowsMidiPort::Send(" +
                              std::string(FormatText("%p", static_cast<const void*>(block))) +
                              ",0)\n");
    EXPECT_EQ(port.TakeSendFailures(), 0u);
}

TEST(WindowsMidiPortAbsentTest, ReconnectOfAClosedPortDoesNothing) {
    LogCapture log;
    WindowsMidiPort port(SettingsFor(kAbsentName));
    port.Reconnect();
    EXPECT_EQ(log.Text(), "");
}

TEST(WindowsMidiPortTest, ChunkSizesComeFromTheSettings) {
    PortSettings settings = SettingsFor(kAbsentName);
    settings.ideal = 123;
    settings.max = 456;
    WindowsMidiPort port(settings);
    EXPECT_EQ(port.GetIdealChunkSize(), 123);
    EXPECT_EQ(port.GetMaxChunkSize(), 456);
}

TEST(WindowsMidiPortTest, ErrorTextsComeFromWinMM) {
    std::string badDevice = WindowsMidiPort::GetMidiErrorText(MMSYSERR_BADDEVICEID);
    std::string stillPlaying = WindowsMidiPort::GetMidiErrorText(MIDIERR_STILLPLAYING);
    EXPECT_FALSE(badDevice.empty());
    EXPECT_FALSE(stillPlaying.empty());
    EXPECT_NE(badDevice, stillPlaying);
}

} // namespace
