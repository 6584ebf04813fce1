// The emulated device driven by its caller, without a thread of its own: in
// virtual time its answers come inside the clock's advance, so the whole
// sender sees exactly what it sees with the device's own thread; in real time
// they come only when the owner calls DeliverDue.
#include "devicelink.h"
#include "devicesim.h"
#include "sendupdate.h"
#include "simmessages.h"
#include "simoptions.h"
#include "simport.h"
#include "simreport.h"
#include "test_engine_run.h"
#include "testsupport.h"
#include "virtualclock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using enginetest::Bytes;
using enginetest::MakeUpdate;
using enginetest::SysExData;

// What one run of the sender left behind, on both sides.
struct RunTrace {
    Bytes received;
    std::vector<PortionReport> reports;
    std::string summary;
    int identityRequests = 0;
    SendResult result;
    std::vector<std::string> calls;
    std::vector<float> fractions;
    int64_t elapsedMs = 0;
};

// Runs the whole sender in virtual time against a device set up by options.
RunTrace RunSender(const Update& update, const SimOptions& options, DeviceSim::Delivery delivery) {
    LogCapture log;
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    DeviceSim device(PortionData(update), update.GetPortSettings(), &clock, delivery);
    ApplySimOptions(device, options);
    RecordingProgress progress;
    RunTrace trace;
    {
        SimMidiPort port(device, update.GetPortSettings());
        SimpleSysExSender sender(port);
        trace.result = sender.Send(update, progress);
    }
    trace.received = device.GetReceivedBytes();
    trace.reports = device.GetPortionReports();
    trace.summary = PortionSummary(trace.reports);
    trace.identityRequests = device.GetIdentityRequestCount();
    trace.calls = progress.calls;
    trace.fractions = progress.fractions;
    trace.elapsedMs = clock.NowMs() - VirtualClock::kDefaultOriginMs;
    return trace;
}

auto Fields(const PortionReport& r) {
    return std::make_tuple(r.complete, r.matched, r.interrupted, r.restarts,
                           r.firstDifferenceOffset, r.wireBytes);
}

auto Fields(const PortionResult& r) {
    return std::make_tuple(static_cast<int>(r.status), r.sentWhole);
}

SimOptions Options(const std::string& script, const std::string& version = "1.05",
                   bool identity = true) {
    SimOptions options;
    options.script = script;
    options.version = version;
    options.identity = identity;
    return options;
}

SimOptions Unplugged(size_t portion, uint64_t afterBytes, int64_t replugAfterMs) {
    SimOptions options;
    options.unplug = true;
    options.unplugPortion = portion;
    options.unplugAfterBytes = afterBytes;
    options.replugAfterMs = replugAfterMs;
    return options;
}

SimOptions Late(int64_t appearAfterMs, SimOptions options) {
    options.appearAfterMs = appearAfterMs;
    return options;
}

TEST(DeviceSimCallerDriven, WholeSenderSeesTheSameAsWithTheDevicesOwnThread) {
    struct Case {
        const char* name;
        SimOptions options;
        std::optional<SendOutcome> outcome; // unset where only the sameness counts
    };
    const Case cases[] = {
        {"every portion accepted", Options("accept"), SendOutcome::DeviceAccepted},
        {"the later portions fail", Options("accept,fail"), SendOutcome::DeviceFailed},
        {"installing before accepting", Options("install2,accept"), SendOutcome::DeviceAccepted},
        {"silent, then asked for its version", Options("silent"), SendOutcome::VersionConfirmed},
        {"silent, and no identity", Options("silent", "1.05", false), SendOutcome::NoReply},
        {"unplugged in the middle of the second portion", Unplugged(1, 100, 500), std::nullopt},
        {"appears late, silent, another version", Late(2000, Options("silent", "2.05")),
         SendOutcome::VersionMismatch},
    };
    // The update's version is 1.05.
    const Update update =
        MakeUpdate({{SysExData(300), 100}, {SysExData(250), 0}, {SysExData(40), 50}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunTrace threaded = RunSender(update, c.options, DeviceSim::Delivery::OwnThread);
        const RunTrace byCaller = RunSender(update, c.options, DeviceSim::Delivery::ByCaller);

        ASSERT_FALSE(threaded.received.empty());
        if (c.outcome) {
            EXPECT_EQ(threaded.result.outcome, *c.outcome);
        }

        EXPECT_EQ(byCaller.received, threaded.received);
        ASSERT_EQ(byCaller.reports.size(), threaded.reports.size());
        for (size_t i = 0; i < threaded.reports.size(); ++i)
            EXPECT_EQ(Fields(byCaller.reports[i]), Fields(threaded.reports[i])) << "portion " << i;
        EXPECT_EQ(byCaller.summary, threaded.summary);
        EXPECT_EQ(byCaller.identityRequests, threaded.identityRequests);
        EXPECT_EQ(byCaller.result.outcome, threaded.result.outcome);
        ASSERT_EQ(byCaller.result.portions.size(), threaded.result.portions.size());
        for (size_t i = 0; i < threaded.result.portions.size(); ++i)
            EXPECT_EQ(Fields(byCaller.result.portions[i]), Fields(threaded.result.portions[i]))
                << "portion " << i;
        EXPECT_EQ(byCaller.calls, threaded.calls);
        EXPECT_EQ(byCaller.fractions, threaded.fractions);
        EXPECT_EQ(byCaller.elapsedMs, threaded.elapsedMs);
    }
}

// Every message a link hands on, with the thread and the time it came at.
struct Arrivals {
    std::vector<Bytes> messages;
    std::vector<std::thread::id> threads;
    std::vector<int64_t> timesMs;

    static void Note(void* context, const std::vector<uint8_t>& message) {
        Arrivals* arrivals = static_cast<Arrivals*>(context);
        arrivals->messages.push_back(message);
        arrivals->threads.push_back(std::this_thread::get_id());
        arrivals->timesMs.push_back(GetTimeMs());
    }
};

TEST(DeviceSimCallerDriven, VirtualTimeAnswersComeInsideTheAdvanceThatReachesThem) {
    LogCapture log;
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    DeviceSim device({{0x01}}, defaultPortSettings, &clock, DeviceSim::Delivery::ByCaller);
    Arrivals arrivals;
    DeviceLink link(device, &Arrivals::Note, &arrivals);

    const int64_t sentAt = GetTimeMs();
    ASSERT_TRUE(link.Deliver(IdentityRequest()));
    SleepMs(static_cast<uint32_t>(DeviceSim::kDefaultAnswerLatencyMs - 1));
    EXPECT_TRUE(arrivals.messages.empty());
    SleepMs(1);
    ASSERT_EQ(arrivals.messages.size(), 1u);
    FirmwareVersion version;
    version.major = 1;
    version.minor = 0;
    EXPECT_EQ(arrivals.messages[0], BuildIdentityReply(version));
    EXPECT_EQ(arrivals.threads[0], std::this_thread::get_id());
    EXPECT_EQ(arrivals.timesMs[0], sentAt + DeviceSim::kDefaultAnswerLatencyMs);
}

TEST(DeviceSimCallerDriven, RealTimeAnswersWaitForDeliverDue) {
    LogCapture log;
    DeviceSim device({{0x01}}, defaultPortSettings, nullptr, DeviceSim::Delivery::ByCaller);
    device.SetAnswerLatencyMs(0);
    Arrivals arrivals;
    DeviceLink link(device, &Arrivals::Note, &arrivals);

    // The portion's wire (one framed chunk) and an Identity Request: both
    // answers are due at once.
    ASSERT_TRUE(link.Deliver({0xF0, 0x01, 0xF7}));
    ASSERT_TRUE(link.Deliver(IdentityRequest()));
    // Time enough for a thread of the device's own to have delivered them.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(arrivals.messages.empty());

    device.DeliverDue();
    FirmwareVersion version;
    version.major = 1;
    version.minor = 0;
    const std::vector<Bytes> answers = {BuildUpdateStatusMessage(kStatusAccepted, 1),
                                        BuildIdentityReply(version)};
    EXPECT_EQ(arrivals.messages, answers);
    for (const std::thread::id& thread : arrivals.threads)
        EXPECT_EQ(thread, std::this_thread::get_id());

    // A message due later stays until it is due.
    device.ScheduleSend(3600000, {0xF0, 0x02, 0xF7});
    device.DeliverDue();
    EXPECT_EQ(arrivals.messages.size(), answers.size());
    EXPECT_EQ(device.GetPortionReports().at(0).complete, true);
}

} // namespace
