// The emulated device behind its port, in virtual time: when it can be
// reached, what it records, and when its answers arrive.
#include "devicesim.h"
#include "simmessages.h"
#include "simport.h"
#include "testsupport.h"
#include "virtualclock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Settings that reach the default device, without pauses unless asked.
PortSettings Settings(int32_t delay = 0, int32_t unprepdelay = 0) {
    PortSettings settings = defaultPortSettings;
    settings.names = {"Virtual Device"};
    settings.delay = delay;
    settings.unprepdelay = unprepdelay;
    return settings;
}

// The same with chunks of exactly `size` bytes (the last one may be shorter).
PortSettings ChunkSettings(int32_t size) {
    PortSettings settings = Settings();
    settings.ideal = size;
    settings.max = size;
    return settings;
}

// A name under the temporary folder that no other test run uses at once.
std::string UniqueTempPath(const std::string& name) {
    std::random_device random;
    return ::testing::TempDir() + "kestrane-sim-" + std::to_string(random()) +
           std::to_string(random()) + "-" + name;
}

Bytes Counting(uint8_t first, size_t count) {
    Bytes bytes;
    for (size_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<uint8_t>(first + i));
    return bytes;
}

// Everything a test needs in virtual time: log, clock, device and port.
struct VirtualBench {
    explicit VirtualBench(std::vector<Bytes> portions, const PortSettings& settings = Settings())
        : device(std::move(portions), settings, &clock), port(device, settings) {}

    // Sleeps in 10 ms steps for ms and notes every message with the time
    // since start at which it arrived.
    std::vector<std::pair<int64_t, Bytes>> Collect(int64_t start, int64_t ms) {
        std::vector<std::pair<int64_t, Bytes>> arrived;
        for (int64_t slept = 0; slept < ms; slept += 10) {
            SleepMs(10);
            Bytes message = port.TakeSysEx();
            if (!message.empty())
                arrived.emplace_back(GetTimeMs() - start, message);
        }
        return arrived;
    }

    LogCapture log;
    VirtualClock clock;
    ScopedVirtualTime time{clock};
    DeviceSim device;
    SimMidiPort port;
};

TEST(VirtualClock, SleepAdvancesAndListenersCatchUp) {
    struct Recorder : ClockListener {
        void AdvancedTo(int64_t nowMs) override { times.push_back(nowMs); }
        std::vector<int64_t> times;
    } recorder;
    VirtualClock clock(500);
    {
        ScopedVirtualTime time(clock);
        clock.AddListener(&recorder);
        SleepMs(250);
        EXPECT_EQ(GetTimeMs(), 750);
        clock.RemoveListener(&recorder);
        SleepMs(100);
        EXPECT_EQ(GetTimeMs(), 850);
    }
    EXPECT_EQ(recorder.times, (std::vector<int64_t>{750}));
    EXPECT_EQ(clock.NowMs(), 850); // sleeps after the scope no longer reach the clock
    SleepMs(1);
    EXPECT_EQ(clock.NowMs(), 850);
}

TEST(DeviceSim, StatusAnswersArriveAtScriptedTimes) {
    struct Case {
        const char* script;
        std::vector<std::pair<int64_t, uint8_t>> answers; // ms after the last byte, status
    };
    const Case cases[] = {
        {"accept", {{20, 0x00}}},
        {"fail", {{20, 0x01}}},
        {"silent", {}},
        {"install3", {{20, 0x20}, {1020, 0x20}, {2020, 0x20}, {3020, 0x00}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        VirtualBench bench({Counting(1, 100)}, ChunkSettings(50));
        bench.device.SetScript(ParseAnswerScript(c.script));
        const Bytes portion = Counting(1, 100);
        bench.port.Send(portion.data(), 50);
        bench.port.Send(portion.data() + 50, 50);
        const int64_t lastByte = GetTimeMs();

        std::vector<std::pair<int64_t, uint8_t>> answers;
        for (const auto& arrived : bench.Collect(lastByte, 4000)) {
            ASSERT_EQ(arrived.second, BuildUpdateStatusMessage(arrived.second[11], 1));
            answers.emplace_back(arrived.first, arrived.second[11]);
        }
        EXPECT_EQ(answers, c.answers);
    }
}

TEST(DeviceSim, EachPortionGetsItsOwnScriptWord) {
    VirtualBench bench({Counting(1, 8), Counting(2, 8), Counting(3, 8), Counting(4, 8)});
    bench.device.SetScript(ParseAnswerScript("silent,install1,fail"));
    std::vector<Bytes> statuses;
    for (uint8_t first = 1; first <= 4; ++first) {
        const Bytes portion = Counting(first, 8);
        bench.port.Send(portion.data(), static_cast<uint32_t>(portion.size()));
        const auto arrived = bench.Collect(GetTimeMs(), 2000);
        Bytes seen;
        std::transform(arrived.begin(), arrived.end(), std::back_inserter(seen),
                       [](const auto& message) { return message.second[11]; });
        statuses.push_back(seen);
    }
    EXPECT_EQ(statuses, (std::vector<Bytes>{{}, {0x20, 0x00}, {0x01}, {0x01}}));
}

TEST(DeviceSim, PausesOfThePortDelayWhatTheSenderSees) {
    // The answer comes 20 ms after the message, but the port blocks for its
    // pauses, so the first look after Send finds the answer already there.
    VirtualBench bench({Counting(1, 4)}, Settings(200, 100));
    const int64_t start = GetTimeMs();
    const Bytes portion = Counting(1, 4);
    bench.port.Send(portion.data(), 4);
    EXPECT_EQ(GetTimeMs() - start, 300);
    EXPECT_EQ(bench.port.TakeSysEx(), BuildUpdateStatusMessage(kStatusAccepted, 1));
}

TEST(DeviceSim, RecordsWireBytesWithFramingToMemoryAndFile) {
    const std::string path = UniqueTempPath("record.bin");
    const Bytes portion = {0x01, 0x02, 0xF0, 0x03, 0xF7};
    VirtualBench bench({portion}, ChunkSettings(2));
    bench.device.SetRecordFile(path);
    bench.port.Send(portion.data(), 2);
    bench.port.Send(portion.data() + 2, 2);
    bench.port.Send(portion.data() + 4, 1);
    bench.port.Request(5000, IdentityRequest().data(), 6);

    // The lone F7 goes out framed as F0 F7; the request comes as it is.
    const Bytes expected = {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7, 0xF0,
                            0xF7, 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_EQ(bench.device.GetReceivedBytes(), expected);
    std::ifstream file(path, std::ios::binary);
    Bytes recorded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(recorded, expected);
    EXPECT_TRUE(bench.device.GetPortionReports().at(0).matched);
    file.close();
    std::remove(path.c_str());
}

TEST(DeviceSim, RecordFileThatCannotBeOpenedIsAnError) {
    VirtualBench bench({});
    EXPECT_THROW(bench.device.SetRecordFile(UniqueTempPath("no-such-dir/record.bin")),
                 std::runtime_error);
}

TEST(DeviceSim, IdentityRequestIsAnsweredWithTheVersionOrNotAtAll) {
    struct Case {
        bool enabled;
        const char* version;
    };
    for (const Case& c : {Case{true, "1.05"}, Case{true, "30.07"}, Case{false, "1.05"}}) {
        SCOPED_TRACE(c.version);
        VirtualBench bench({});
        bench.device.SetFirmwareVersion(c.version);
        bench.device.SetIdentityEnabled(c.enabled);
        const int64_t start = GetTimeMs();
        Bytes reply = bench.port.Request(5000, IdentityRequest().data(), 6);
        if (c.enabled) {
            EXPECT_EQ(reply, BuildIdentityReply(ParseIdentityVersion(c.version)));
            EXPECT_EQ(GetTimeMs() - start, 20);
        } else {
            EXPECT_TRUE(reply.empty());
            EXPECT_GE(GetTimeMs() - start, 5000);
        }
        EXPECT_EQ(bench.device.GetIdentityRequestCount(), 1);
    }
}

TEST(DeviceSim, IdentityRequestInsideThePortionDataIsData) {
    const Bytes portion = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    VirtualBench bench({portion, portion});
    bench.port.Send(portion.data(), 6);
    SleepMs(20);
    EXPECT_EQ(bench.port.TakeSysEx(), BuildUpdateStatusMessage(kStatusAccepted, 1));
    EXPECT_EQ(bench.device.GetIdentityRequestCount(), 0);
    EXPECT_EQ(bench.device.GetExpectedPortion(), 1u);

    // Once all portions are in, the same bytes are a request.
    bench.port.Send(portion.data(), 6);
    bench.port.Send(portion.data(), 6);
    EXPECT_EQ(bench.device.GetIdentityRequestCount(), 1);
}

TEST(DeviceSim, AppearsOnlyAfterItsDelay) {
    VirtualBench bench({});
    bench.device.SetAppearAfterMs(3000);
    const int64_t start = GetTimeMs();
    while (!bench.port.IsConnected() && GetTimeMs() - start < 10000)
        SleepMs(250);
    EXPECT_EQ(GetTimeMs() - start, 3000);
    EXPECT_TRUE(bench.device.IsPresent());
}

TEST(DeviceSim, UnpluggedMidPortionAndBackForTheNextOne) {
    const Bytes first = Counting(1, 40);
    const Bytes second = Counting(0x41, 20);
    VirtualBench bench({first, second}, ChunkSettings(10));
    bench.device.SetUnplug(0, 30, 5000); // in the third framed block of 12 bytes
    for (uint32_t at = 0; at < 40; at += 10)
        bench.port.Send(first.data() + at, 10);
    const int64_t unplugged = GetTimeMs();

    Bytes arrived = bench.device.GetReceivedBytes();
    ASSERT_EQ(arrived.size(), 30u);
    EXPECT_EQ(Bytes(arrived.begin() + 24, arrived.end()), (Bytes{0xF0, 21, 22, 23, 24, 25}));
    EXPECT_EQ(bench.log.Count("Can't send MIDI, not connected\n"), 1u);

    // The connection from before the unplugging stays dead; a new one opens
    // once the device is back.
    SleepMs(5000);
    EXPECT_FALSE(bench.port.IsConnected());
    bench.port.Disconnect();
    EXPECT_TRUE(bench.port.IsConnected());
    EXPECT_EQ(GetTimeMs() - unplugged, 5000);

    bench.port.Send(second.data(), 10);
    bench.port.Send(second.data() + 10, 10);
    SleepMs(20);
    EXPECT_EQ(bench.port.TakeSysEx(), BuildUpdateStatusMessage(kStatusAccepted, 2));
    std::vector<PortionReport> reports = bench.device.GetPortionReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_FALSE(reports[0].complete);
    EXPECT_TRUE(reports[0].interrupted);
    EXPECT_TRUE(reports[0].matched);
    EXPECT_EQ(reports[0].wireBytes, 30u);
    EXPECT_TRUE(reports[1].complete);
    EXPECT_TRUE(reports[1].matched);
}

TEST(DeviceSim, WhileUnpluggedItCannotBeReached) {
    VirtualBench bench({Counting(1, 4)});
    bench.device.SetUnplug(0, 0, 3000);
    const Bytes portion = Counting(1, 4);
    bench.port.Send(portion.data(), 4);
    bench.port.Disconnect();
    const int64_t start = GetTimeMs();
    while (!bench.port.IsConnected())
        SleepMs(1000);
    EXPECT_EQ(GetTimeMs() - start, 3000);
    EXPECT_TRUE(bench.device.GetReceivedBytes().empty());
}

TEST(DeviceSim, InjectedMessagesReachOnlyAConnectedPort) {
    VirtualBench bench({});
    const int64_t start = GetTimeMs();
    const Bytes early = {0xF0, 0x01, 0xF7};
    const Bytes late = {0xF0, 0x02, 0xF7};
    bench.device.ScheduleSend(100, early); // the port is not open yet
    bench.device.ScheduleSend(300, late);
    SleepMs(200);
    ASSERT_TRUE(bench.port.IsConnected());
    std::vector<std::pair<int64_t, Bytes>> arrived = bench.Collect(start, 600);
    EXPECT_EQ(arrived, (std::vector<std::pair<int64_t, Bytes>>{{300, late}}));
    EXPECT_TRUE(bench.log.Contains("DeviceSim: no port is listening, 3 bytes lost\n"));
}

TEST(DeviceSim, PortFindsTheDeviceByItsNames) {
    struct Case {
        std::set<std::string> names;
        const char* output;
        const char* input;
        bool connects;
        bool answers;
    };
    const Case cases[] = {
        {{}, "Kestrane Virtual Device", "Kestrane Virtual Device", true, true},
        {{"Virtual Device"}, "Kestrane Virtual Device", "Kestrane Virtual Device", true, true},
        {{"Kestrane Virtual Device"},
         "2- Kestrane Virtual Device",
         "3- Kestrane Virtual Device",
         true,
         true},
        {{"Other Device"}, "Kestrane Virtual Device", "Kestrane Virtual Device", false, false},
        {{"Virtual Device"}, "Kestrane Virtual Device", "Kestrane Virtual In", true, false},
        {{"kestrane virtual device"},
         "Kestrane Virtual Device",
         "Kestrane Virtual Device",
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output + std::string(" / ") + c.input);
        PortSettings settings = Settings();
        settings.names = c.names;
        VirtualBench bench({}, settings);
        bench.device.SetPortNames(c.output, c.input);
        EXPECT_EQ(bench.port.IsConnected(), c.connects);
        EXPECT_EQ(!bench.port.Request(100, IdentityRequest().data(), 6).empty(), c.answers);
    }
}

} // namespace
