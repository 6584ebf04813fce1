// The emulated device reads every portion against its exact wire image: the
// messages the sender's chunking and the port's framing make of the data.
// A correct wire is accepted whatever the chunk sizes, and a wrong one is
// caught at its first difference.
#include "devicesim.h"
#include "portionwire.h"
#include "sendupdate.h"
#include "simmessages.h"
#include "simport.h"
#include "testsupport.h"
#include "virtualclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

PortSettings Chunking(int32_t ideal, int32_t max, bool chunks = true) {
    PortSettings settings = defaultPortSettings;
    settings.ideal = ideal;
    settings.max = max;
    settings.chunks = chunks;
    return settings;
}

TEST(PortionWire, ImageFollowsTheChunksAndTheFraming) {
    struct Case {
        const char* name;
        Bytes data;
        PortSettings settings;
        std::vector<Bytes> image;
    };
    const Case cases[] = {
        {"framed chunks without SysEx bytes",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
         Chunking(3, 3),
         {{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0x04, 0x05, 0x06, 0xF7}}},
        {"whole SysEx messages go unframed",
         {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0x04, 0xF7},
         Chunking(2, 8),
         {{0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x03, 0x04, 0xF7}}},
        {"one-byte chunks: a lone F0 and a lone F7 both go out as F0 F7",
         {0xF0, 0x01, 0xF7},
         Chunking(1, 1),
         {{0xF0, 0xF7}, {0xF0, 0x01, 0xF7}, {0xF0, 0xF7}}},
        {"a chunk grows up to F7, and the rest up to the end",
         {0x01, 0xF7, 0x02, 0x03},
         Chunking(1, 8),
         {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0x03, 0xF7}}},
        {"the maximum reached right before the last F7",
         {0x01, 0x02, 0x03, 0xF7},
         Chunking(2, 3),
         {{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0xF0, 0xF7}}},
        {"unframed chunks go as they are",
         {0xF0, 0x01, 0x02, 0xF7, 0x05},
         Chunking(2, 2, false),
         {{0xF0, 0x01}, {0x02, 0xF7}, {0x05}}},
        {"an ideal size of zero still advances",
         {0x01, 0x02},
         Chunking(0, 0),
         {{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}}},
        {"a negative maximum lets a chunk grow up to F7",
         {0x01, 0x02, 0xF7, 0x03},
         Chunking(1, -1),
         {{0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}}},
        {"an empty portion has no messages", {}, Chunking(1, 1), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PortionWireImage(c.data, c.settings), c.image);
        const uint64_t size = std::accumulate(
            c.image.begin(), c.image.end(), uint64_t{0},
            [](uint64_t sum, const Bytes& message) { return sum + message.size(); });
        EXPECT_EQ(PortionWireSize(c.data, c.settings), size);
    }
}

// One update sent by the real sender through the emulated port, in virtual
// time, to a device that accepts every portion.
struct SentUpdate {
    SentUpdate(const std::vector<Bytes>& portions, const std::string& settingsText)
        : update(Build(portions, settingsText)), time(clock),
          device(
              std::make_unique<DeviceSim>(PortionData(update), update.GetPortSettings(), &clock)) {
        SimMidiPort port(*device, update.GetPortSettings());
        SimpleSysExSender sender(port);
        sender.Send(update, progress);
    }

    static Update Build(const std::vector<Bytes>& portions, const std::string& settingsText) {
        UpdateFileBuilder file;
        file.Header("Kestrane Virtual Device", 1, 5);
        for (const Bytes& portion : portions)
            file.Portion(portion, 0);
        file.Settings(settingsText);
        std::istringstream stream(file.Data());
        return Update(stream);
    }

    LogCapture log;
    Update update;
    VirtualClock clock;
    ScopedVirtualTime time;
    RecordingProgress progress;
    std::unique_ptr<DeviceSim> device;
};

TEST(DeviceSimWire, CorrectWiresAreAcceptedWhateverTheChunks) {
    struct Case {
        const char* settings;
        std::vector<Bytes> portions;
        Bytes record; // every portion's wire, in order
    };
    const Case cases[] = {
        // Lone F0 and lone F7 chunks all look alike on the wire.
        {"win:t:ideal:1:max:1:delay:0:unprepdelay:0",
         {{0xF0, 0x01, 0x02, 0xF7}, {0x01, 0xF7}, {0x01, 0xF0}},
         {0xF0, 0xF7, 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF0, 0xF7, // portion 1
          0xF0, 0x01, 0xF7, 0xF0, 0xF7,                               // portion 2
          0xF0, 0x01, 0xF7, 0xF0, 0xF7}},                             // portion 3
        {"win:t:ideal:2:max:2:delay:0:unprepdelay:0",
         {{0xF0, 0x01, 0x02, 0x03, 0xF7}, {0x01, 0x02, 0xF0}, {0xF0, 0xF7}},
         {0xF0, 0x01, 0xF7, 0xF0, 0x02, 0x03, 0xF7, 0xF0, 0xF7, // portion 1
          0xF0, 0x01, 0x02, 0xF7, 0xF0, 0xF7,                   // portion 2
          0xF0, 0xF7}},                                         // portion 3
        {"win:t:ideal:1:max:1:chunks:no:delay:0:unprepdelay:0",
         {{0xF0, 0x01, 0xF7}, {0x01, 0xF0}},
         {0xF0, 0x01, 0xF7, 0x01, 0xF0}},
        {"win:t:ideal:2:max:2:chunks:no:delay:0:unprepdelay:0",
         {{0xF0, 0x01, 0x02, 0xF7, 0x05}, {0xF7}},
         {0xF0, 0x01, 0x02, 0xF7, 0x05, 0xF7}},
        // The maximum is reached right before the data's own final F7.
        {"win:t:ideal:2:max:3:delay:0:unprepdelay:0",
         {{0x01, 0x02, 0x03, 0xF7}, {0x01, 0x02, 0x03, 0xF7, 0x05}},
         {0xF0, 0x01, 0x02, 0x03, 0xF7, 0xF0, 0xF7,               // portion 1
          0xF0, 0x01, 0x02, 0x03, 0xF7, 0xF0, 0xF7, 0x05, 0xF7}}, // portion 2
        {"win:t:ideal:0:max:0:delay:0:unprepdelay:0",
         {{0x01, 0xF7}, {0xF0}},
         {0xF0, 0x01, 0xF7, 0xF0, 0xF7, 0xF0, 0xF7}},
        {"win:t:delay:0:unprepdelay:0",
         {{0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}, {0x01, 0xF7}},
         {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7, 0xF0, 0x01, 0xF7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        SentUpdate run(c.portions, c.settings);
        EXPECT_EQ(run.device->GetReceivedBytes(), c.record);
        const std::vector<PortionReport> reports = run.device->GetPortionReports();
        ASSERT_EQ(reports.size(), c.portions.size());
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_TRUE(reports[i].complete) << "portion " << i + 1;
            EXPECT_TRUE(reports[i].matched) << "portion " << i + 1;
        }
        EXPECT_EQ(run.log.Count(", answering accept\n"), c.portions.size()) << run.log.Text();
        EXPECT_FALSE(run.log.Contains("differs")) << run.log.Text();
        ASSERT_EQ(run.progress.completed.size(), 1u);
        EXPECT_EQ(run.progress.completed[0],
                  "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.");
    }
}

// Wrong wires sent straight to the device, delivery by delivery, read as a
// byte stream and, with whole blocks, as blocks. The portion 11 .. 1A in
// chunks of four goes out as F0 11 12 13 14 F7 | F0 15 16 17 18 F7 |
// F0 19 1A F7, wire bytes 0-5, 6-11 and 12-15.
TEST(DeviceSimWire, WrongWiresAreCaughtAtTheirFirstDifference) {
    const Bytes first = {0xF0, 0x11, 0x12, 0x13, 0x14, 0xF7};
    const Bytes second = {0xF0, 0x15, 0x16, 0x17, 0x18, 0xF7};
    const Bytes third = {0xF0, 0x19, 0x1A, 0xF7};
    struct Case {
        const char* name;
        bool wholeBlocks;
        bool chunks;
        std::vector<Bytes> messages;
        bool complete; // and then answered with failure
        int64_t offset;
        const char* logged;
    };
    const Case cases[] = {
        {"a changed byte",
         false,
         true,
         {first, {0xF0, 0x15, 0x16, 0x63, 0x18, 0xF7}, third},
         true,
         9,
         "portion 1 differs at wire byte 9: expected 0x17, received 0x63"},
        {"a missing chunk: the portion waits for more bytes",
         false,
         true,
         {first, third, third},
         false,
         7,
         "portion 1 differs at wire byte 7: expected 0x15, received 0x19"},
        {"a missing chunk: the stream's next bytes end the portion",
         false,
         true,
         {first, third, third, third},
         true,
         7,
         "portion 1 differs at wire byte 7: expected 0x15, received 0x19"},
        {"a missing end of message: the portion starts over at the next F0",
         false,
         true,
         {{0xF0, 0x11, 0x12, 0x13, 0x14}, second, third},
         false,
         1,
         "portion 1 differs at wire byte 1: expected 0x11, received 0x15"},
        {"a byte too many",
         false,
         true,
         {first, second, {0xF0, 0x19, 0x1A, 0x1B, 0xF7}},
         true,
         15,
         "portion 1 differs at wire byte 15: expected 0xf7, received 0x1b"},
        {"the data cut in other messages",
         false,
         true,
         {{0xF0, 0x11, 0x12, 0x13, 0x14, 0x15, 0xF7}, {0xF0, 0x16, 0x17, 0x18, 0x19, 0x1A, 0xF7}},
         false,
         5,
         "portion 1 differs at wire byte 5: expected 0xf7, received 0x15"},
        {"framing where none belongs",
         false,
         false,
         {{0x11, 0x12, 0x13, 0x14}, {0xF0, 0x15, 0x16, 0x17, 0x18, 0xF7}, {0x19, 0x1A}},
         true,
         4,
         "portion 1 differs at wire byte 4: expected 0x15, received 0xf0"},
        {"whole blocks: the right bytes in other deliveries",
         true,
         true,
         {{0xF0, 0x11, 0x12}, {0x13, 0x14, 0xF7}, second, third},
         true,
         3,
         "portion 1 differs at wire byte 3: expected 0x13, received none"},
        {"whole blocks: a missing chunk: the portion waits for one more message",
         true,
         true,
         {first, third},
         false,
         7,
         "portion 1 differs at wire byte 7: expected 0x15, received 0x19"},
        {"whole blocks: a missing chunk: a later message ends the portion",
         true,
         true,
         {first, third, third},
         true,
         7,
         "portion 1 differs at wire byte 7: expected 0x15, received 0x19"},
        {"whole blocks: a missing end of message",
         true,
         true,
         {{0xF0, 0x11, 0x12, 0x13, 0x14}, second, third},
         true,
         5,
         "portion 1 differs at wire byte 5: expected 0xf7, received none"},
        {"whole blocks: a byte too many",
         true,
         true,
         {first, second, {0xF0, 0x19, 0x1A, 0x1B, 0xF7}},
         true,
         15,
         "portion 1 differs at wire byte 15: expected 0xf7, received 0x1b"},
        {"whole blocks: the right data cut in other chunks",
         true,
         true,
         {{0xF0, 0x11, 0x12, 0x13, 0x14, 0x15, 0xF7}, {0xF0, 0x16, 0x17, 0x18, 0x19, 0x1A, 0xF7}},
         false,
         5,
         "portion 1 differs at wire byte 5: expected 0xf7, received 0x15"},
        {"whole blocks: framing where none belongs",
         true,
         false,
         {{0x11, 0x12, 0x13, 0x14}, {0xF0, 0x15, 0x16, 0x17, 0x18, 0xF7}, {0x19, 0x1A}},
         true,
         4,
         "portion 1 differs at wire byte 4: expected 0x15, received 0xf0"},
    };
    const Bytes data = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        VirtualClock clock;
        ScopedVirtualTime time(clock);
        const PortSettings settings = Chunking(4, 4, c.chunks);
        DeviceSim device({data}, settings, &clock);
        device.SetWholeBlocks(c.wholeBlocks);
        SimMidiPort port(device, settings);
        for (const Bytes& message : c.messages)
            port.SendVerbatim(message.data(), static_cast<uint32_t>(message.size()));
        SleepMs(100);

        const PortionReport report = device.GetPortionReports().at(0);
        EXPECT_EQ(report.complete, c.complete);
        EXPECT_FALSE(report.matched);
        EXPECT_EQ(report.firstDifferenceOffset, c.offset);
        EXPECT_EQ(log.Count("differs"), 1u) << log.Text();
        EXPECT_TRUE(log.Contains(std::string("DeviceSim: ") + c.logged + "\n")) << log.Text();
        EXPECT_EQ(port.TakeSysEx(),
                  c.complete ? BuildUpdateStatusMessage(kStatusFailed, 1) : Bytes());
    }
}

// The right bytes reach the device whatever deliveries they come in, and
// with what a MIDI device ignores between them: real-time bytes anywhere,
// other messages and stray bytes between SysEx messages, an Identity Request
// between two messages of a portion. A message cut off before its end makes
// the portion start over at the next F0.
TEST(DeviceSimWire, StreamIsJudgedByItsBytes) {
    struct Case {
        const char* name;
        std::vector<Bytes> deliveries;
        uint32_t restarts;
        int identityRequests;
        uint64_t ignored;
    };
    // The portion 11 .. 1A in chunks of four, as in the test above.
    const Bytes wire = {0xF0, 0x11, 0x12, 0x13, 0x14, 0xF7, 0xF0, 0x15,
                        0x16, 0x17, 0x18, 0xF7, 0xF0, 0x19, 0x1A, 0xF7};
    auto bytewise = [](const Bytes& bytes) {
        std::vector<Bytes> deliveries(bytes.size());
        std::transform(bytes.begin(), bytes.end(), deliveries.begin(),
                       [](uint8_t byte) { return Bytes{byte}; });
        return deliveries;
    };
    const Case cases[] = {
        {"one delivery", {wire}, 0, 0, 0},
        {"byte by byte", bytewise(wire), 0, 0, 0},
        {"cut inside messages",
         {{0xF0, 0x11, 0x12},
          {0x13, 0x14, 0xF7, 0xF0, 0x15},
          {0x16, 0x17, 0x18, 0xF7, 0xF0, 0x19},
          {0x1A, 0xF7}},
         0,
         0,
         0},
        {"clock and active sensing inside messages",
         {{0xF0, 0x11, 0xF8, 0x12, 0x13, 0x14, 0xF7, 0xFE, 0xF0, 0x15, 0x16, 0x17, 0x18},
          {0xF8},
          {0xF7, 0xF0, 0x19, 0x1A, 0xFE, 0xF7}},
         0,
         0,
         4},
        {"a note, a program change and stray bytes between messages",
         {{0xF0, 0x11, 0x12, 0x13, 0x14, 0xF7, 0x90, 0x3C, 0x40, 0x3E, 0x00},
          {0xC0, 0x05, 0xF7, 0x01, 0xF0, 0x15, 0x16, 0x17, 0x18, 0xF7, 0xF0, 0x19, 0x1A, 0xF7}},
         0,
         0,
         9},
        {"an identity request between two messages",
         {{0xF0, 0x11, 0x12, 0x13, 0x14, 0xF7, 0xF0, 0x7E, 0x7F},
          {0x06, 0x01, 0xF7, 0xF0, 0x15, 0x16, 0x17, 0x18, 0xF7, 0xF0, 0x19, 0x1A, 0xF7}},
         0,
         1,
         0},
        {"a message cut off, then the whole portion",
         {{0xF0, 0x11, 0x12, 0x13, 0x14, 0xF7, 0xF0, 0x15, 0x16}, wire},
         1,
         0,
         0},
        {"a message cut off by a note, then the whole portion",
         {{0xF0, 0x11, 0x12, 0x90, 0x3C, 0x40}, wire},
         1,
         0,
         3},
    };
    const Bytes data = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        VirtualClock clock;
        ScopedVirtualTime time(clock);
        const PortSettings settings = Chunking(4, 4);
        DeviceSim device({data}, settings, &clock);
        SimMidiPort port(device, settings);
        for (const Bytes& delivery : c.deliveries)
            port.SendVerbatim(delivery.data(), static_cast<uint32_t>(delivery.size()));
        SleepMs(100);

        const PortionReport report = device.GetPortionReports().at(0);
        EXPECT_TRUE(report.complete);
        EXPECT_TRUE(report.matched) << log.Text();
        EXPECT_EQ(report.restarts, c.restarts);
        EXPECT_EQ(device.GetIdentityRequestCount(), c.identityRequests);
        EXPECT_EQ(device.GetIgnoredByteCount(), c.ignored);
        EXPECT_EQ(log.Count(", answering accept\n"), 1u) << log.Text();
    }
}

TEST(DeviceSimWire, WrongWireOfASilentDeviceStaysSilent) {
    LogCapture log;
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    const PortSettings settings = Chunking(4, 4);
    DeviceSim device({{0x11, 0x12}}, settings, &clock);
    device.SetScript(ParseAnswerScript("silent"));
    SimMidiPort port(device, settings);
    const Bytes wrong = {0xF0, 0x11, 0x13, 0xF7};
    port.SendVerbatim(wrong.data(), 4);
    SleepMs(100);
    EXPECT_TRUE(port.TakeSysEx().empty());
    EXPECT_TRUE(log.Contains("DeviceSim: portion 1 differs at wire byte 2: expected 0x12, "
                             "received 0x13\n"));
}

TEST(DeviceSimWire, IdentityRequestIsDataOnlyWhereItIsTheNextMessage) {
    LogCapture log;
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    const Bytes request = IdentityRequest();
    // One portion whose second chunk is the request's bytes.
    Bytes data = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    data.insert(data.end(), request.begin(), request.end());
    const PortSettings settings = Chunking(6, 6);
    DeviceSim device({data}, settings, &clock);
    SimMidiPort port(device, settings);

    // Where the first chunk is expected, the request is a request: it is
    // answered and the portion still waits for its first chunk.
    EXPECT_EQ(port.Request(1000, request.data(), 6),
              BuildIdentityReply(ParseIdentityVersion("1.00")));
    port.Send(data.data(), 6);
    EXPECT_EQ(device.GetIdentityRequestCount(), 1);
    // Where it is the chunk expected next, it is data.
    port.Send(request.data(), 6);
    SleepMs(100);
    EXPECT_EQ(device.GetIdentityRequestCount(), 1);
    EXPECT_EQ(port.TakeSysEx(), BuildUpdateStatusMessage(kStatusAccepted, 1));
    EXPECT_TRUE(device.GetPortionReports().at(0).matched);
}

} // namespace
