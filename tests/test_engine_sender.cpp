// The whole sender, run in virtual time against the emulated device: what
// goes out on the wire, how the device's answers are waited for, and which
// outcome the user is told.
#include "answerscript.h"
#include "simmessages.h"
#include "test_engine_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>

namespace {

using namespace enginetest;

struct WireCase {
    const char* name;
    Bytes data;
    const char* settings;
    Bytes wire;
};

TEST(SenderWireTest, ChunksAndFramingAreByteExact) {
    const WireCase cases[] = {
        {"framed chunks cut after F7",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0xF7, 0x07, 0x08, 0x09, 0x0A},
         "win:t:ideal:4:max:6",
         {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7, 0xF0, 0x07, 0x08, 0x09, 0x0A, 0xF7}},
        {"unframed bytes go as they are",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0xF7, 0x07, 0x08, 0x09, 0x0A},
         "win:t:ideal:4:max:6:chunks:no",
         {0x01, 0x02, 0x03, 0x04, 0x05, 0xF7, 0x07, 0x08, 0x09, 0x0A}},
        {"whole messages get no extra framing",
         {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7},
         "win:t:ideal:2:max:8",
         {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}},
        {"maximum reached before F7 frames both pieces",
         {0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7},
         "win:t:ideal:2:max:3",
         {0xF0, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0x04, 0xF7}},
        {"ideal of zero still advances",
         {0xF0, 0x01, 0x02, 0x03},
         "win:t:ideal:0:max:0",
         {0xF0, 0xF7, 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF0, 0x03, 0xF7}},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        Update update = MakeUpdate({{c.data, 0}}, 1, 5, c.settings);
        SenderRun run(update);
        run.Send();
        EXPECT_EQ(run.device->GetReceivedBytes(), c.wire);
        ASSERT_EQ(run.device->GetPortionReports().size(), 1u);
        EXPECT_TRUE(run.device->GetPortionReports()[0].complete);
        EXPECT_TRUE(run.device->GetPortionReports()[0].matched);
        EXPECT_EQ(run.Outcome(),
                  "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.");
    }
}

TEST(SenderWireTest, SeveralPortionsArriveInOrderAndWhole) {
    std::vector<TestPortion> portions;
    for (size_t i = 0; i < 10; ++i)
        portions.push_back({SysExData(700 + 300 * i), static_cast<uint32_t>(100 * i)});
    Update update = MakeUpdate(portions);
    SenderRun run(update);
    run.Send();

    Bytes all;
    for (const TestPortion& portion : portions)
        all.insert(all.end(), portion.data.begin(), portion.data.end());
    // The data is made of whole messages, so the framed wire equals the data.
    Bytes wire = run.device->GetReceivedBytes();
    ASSERT_EQ(wire.size(), all.size());
    EXPECT_TRUE(wire == all) << "first difference at "
                             << std::mismatch(wire.begin(), wire.end(), all.begin()).first -
                                    wire.begin();
    for (const PortionReport& report : run.device->GetPortionReports())
        EXPECT_TRUE(report.complete && report.matched);
    EXPECT_EQ(run.log.Count("SimpleSysExSender::Send\n"), 10u);
}

struct OutcomeCase {
    const char* name;
    const char* script;
    bool identity;
    const char* deviceVersion;
    uint16_t major, minor;
    std::string expected;
    SendOutcome outcome;
};

TEST(SenderOutcomeTest, EveryBranchOfTheFinalDecision) {
    const OutcomeCase cases[] = {
        {"accepted", "accept", true, "9.99", 1, 5,
         "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.",
         SendOutcome::DeviceAccepted},
        {"accepted after installing", "install3", true, "9.99", 1, 5,
         "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.",
         SendOutcome::DeviceAccepted},
        {"device error", "fail", true, "1.05", 1, 5,
         "There was an error sending the update file.\nPlease restart the device and try again.",
         SendOutcome::DeviceFailed},
        {"silent, no identity reply", "silent", false, "1.05", 1, 5,
         "The update has been sent.\nPlease check your device for update status.\nYou may need "
         "to restart the device for the update process to complete.",
         SendOutcome::NoReply},
        {"silent, update version unknown", "silent", true, "1.05", 0, 0,
         "The update has been sent to the device sucessfully.\nIt is now at version firmware "
         "1.05.",
         SendOutcome::DeviceAtVersion},
        {"silent, device at another version", "silent", true, "1.04", 1, 5,
         "The 'Kestrane Virtual Device' firmware version is now 1.04.\nThe update file version "
         "was 1.05.\nThe update process did not complete successfully.",
         SendOutcome::VersionMismatch},
        {"silent, device at the update's version", "silent", true, "1.05", 1, 5,
         "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.",
         SendOutcome::VersionConfirmed},
        {"only the last portion counts", "fail,accept", true, "9.99", 1, 5,
         "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.",
         SendOutcome::DeviceAccepted},
        {"a last failure is not hidden", "accept,fail", true, "1.05", 1, 5,
         "There was an error sending the update file.\nPlease restart the device and try again.",
         SendOutcome::DeviceFailed},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Update update = MakeUpdate({{SysExData(300), 0}, {SysExData(200), 0}}, c.major, c.minor);
        SenderRun run(update);
        run.device->SetScript(ParseAnswerScript(c.script));
        run.device->SetIdentityEnabled(c.identity);
        run.device->SetFirmwareVersion(c.deviceVersion);
        run.Send();
        EXPECT_EQ(run.Outcome(), c.expected);
        EXPECT_EQ(run.result.outcome, c.outcome);
        bool verified = std::string(c.script).find("silent") != std::string::npos;
        EXPECT_EQ(run.device->GetIdentityRequestCount(), verified ? 1 : 0);
    }
}

// A port whose identity reply is whatever the test says, to reach the
// outcomes of replies that cannot be read.
class FixedReplyPort : public SimMidiPort {
public:
    FixedReplyPort(DeviceSim& device, const PortSettings& settings, Bytes reply)
        : SimMidiPort(device, settings), reply(std::move(reply)) {}
    Bytes Request(uint32_t, const uint8_t*, uint32_t) override { return reply; }

private:
    Bytes reply;
};

TEST(SenderOutcomeTest, UnreadableIdentityRepliesAreNotConfirmation) {
    Bytes full = BuildIdentityReply(FirmwareVersion{1, 5});
    const Bytes replies[] = {
        {0xF0, 0x7E, 0x10, 0x06, 0x02, 0x22, 0xF7}, // another device ID
        {0xF0, 0x00, 0x00, 0x3F, 0x73, 0xF7},       // not an identity reply
        Bytes(full.begin(), full.begin() + 12),     // cut short
    };
    for (const Bytes& reply : replies) {
        Update update = MakeUpdate({{SysExData(100), 0}});
        SenderRun run(update);
        run.device->SetScript(ParseAnswerScript("silent"));
        FixedReplyPort port(*run.device, update.GetPortSettings(), reply);
        SimpleSysExSender sender(port);
        sender.Send(update, run.progress);
        EXPECT_EQ(run.Outcome(), "The update has been sent, but the device has not yet confirmed "
                                 "that the update process was successful.");
    }
}

TEST(SenderOutcomeTest, UpdateWithoutPortionsGoesStraightToVerification) {
    Update update = MakeUpdate({});
    SenderRun run(update);
    run.device->SetFirmwareVersion("1.05");
    run.Send();
    const std::vector<std::string> expectedStart = {"Progress 0.000000",
                                                    "Indeterminate",
                                                    "Status Started update",
                                                    "Progress 1.000000",
                                                    "Status MIDI update sent successfully.",
                                                    "Status Verifying update status..."};
    ASSERT_GE(run.progress.calls.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(run.progress.calls.begin(),
                                       run.progress.calls.begin() + expectedStart.size()),
              expectedStart);
    EXPECT_EQ(run.Outcome(),
              "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.");
}

TEST(SenderStatusWaitTest, InstallingStormEndsAfterTwoHundredAndOneAnswers) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.device->SetScript(ParseAnswerScript("install300"));
    run.device->SetIdentityEnabled(false);
    run.Send();
    EXPECT_EQ(run.log.Count("CheckSysExUpdateStatus: error=(0x20)\n"), 201u);
    EXPECT_EQ(run.log.Count("WaitForUpdateToFinish << (2)\n"), 1u);
    EXPECT_EQ(std::count(run.progress.calls.begin(), run.progress.calls.end(),
                         "Status Waiting for device to complete update installation..."),
              1);
    EXPECT_NE(run.IndexOf("Status Device has not yet responded to update."),
              run.progress.calls.size());
    // Still installing is no verdict: the device is asked for its version,
    // and the first message after the request is one more status message.
    EXPECT_EQ(run.device->GetIdentityRequestCount(), 1);
    EXPECT_EQ(run.Outcome(), kSentUnconfirmedText);
}

TEST(SenderStatusWaitTest, SilentDeviceCostsSixWaitsOfTwoSeconds) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.device->SetScript(ParseAnswerScript("silent"));
    run.device->SetIdentityEnabled(false);
    int64_t before = GetTimeMs();
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    ASSERT_TRUE(run.port->IsConnected());
    EXPECT_EQ(WaitForUpdateToFinish(*run.port, run.progress), NoResponse);
    // Six waits of four 500 ms polls each.
    EXPECT_EQ(GetTimeMs() - before, 6 * 2000);
    EXPECT_EQ(run.log.Count("GetUpdateStatus: sysEx=(none)\n"), 24u);
    EXPECT_EQ(run.progress.calls.back(), "Progress 1.000000");
}

TEST(SenderStatusWaitTest, ForeignReplyEndsOneWaitButNotTheVerdict) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.device->SetScript(ParseAnswerScript("silent"));
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    ASSERT_TRUE(run.port->IsConnected());
    run.device->ScheduleSend(700, {0xF0, 0x41, 0x10, 0x42, 0xF7});
    run.device->ScheduleSend(2600, BuildUpdateStatusMessage(0x00, 1));
    EXPECT_EQ(WaitForUpdateToFinish(*run.port, run.progress), Accepted);
    EXPECT_EQ(run.log.Count("GetUpdateStatus: sysEx=(something)\n"), 2u);
    EXPECT_EQ(run.progress.calls.back(), "Progress 1.000000");
}

TEST(SenderStatusWaitTest, StoredMessageIsTakenAtOnce) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    ASSERT_TRUE(run.port->IsConnected());
    run.device->ScheduleSend(0, BuildUpdateStatusMessage(0x01, 1));
    SleepMs(1);
    int64_t before = GetTimeMs();
    EXPECT_EQ(GetUpdateStatus(*run.port, 2000), Failed);
    EXPECT_EQ(GetTimeMs(), before);
    EXPECT_TRUE(run.port->GetSysEx().empty());
}

TEST(SenderStatusWaitTest, NotConnectedPortIsNotWaitedFor) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.device->SetAppearAfterMs(60000);
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    EXPECT_EQ(WaitForUpdateToFinish(*run.port, run.progress), NoResponse);
    EXPECT_TRUE(run.log.Contains("WaitForUpdateToFinish: not connected\n"));
    EXPECT_TRUE(run.progress.calls.empty());
}

TEST(SenderConnectionTest, WaitsForADeviceThatAppearsLate) {
    Update update = MakeUpdate({{SysExData(500), 0}});
    SenderRun run(update);
    run.device->SetAppearAfterMs(25000);
    run.Send();
    // Two failed attempts of ten tests a second apart, then the device is there.
    EXPECT_GE(run.log.Count("MIDI port is not connected. Waiting, then retrying\n"), 20u);
    EXPECT_TRUE(run.device->GetPortionReports().at(0).matched);
    EXPECT_EQ(run.Outcome(),
              "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.");
}

TEST(SenderConnectionTest, UnpluggedDeviceIsRetriedForTheNextPortion) {
    std::vector<TestPortion> portions = {
        {SysExData(3000), 0}, {SysExData(3000), 0}, {SysExData(3000), 0}};
    Update update = MakeUpdate(portions);
    SenderRun run(update);
    run.device->SetUnplug(1, 1500, 30000);
    run.Send();
    std::vector<PortionReport> reports = run.device->GetPortionReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(reports[0].complete && reports[0].matched);
    EXPECT_TRUE(reports[1].interrupted);
    EXPECT_FALSE(reports[1].complete);
    EXPECT_TRUE(reports[2].complete && reports[2].matched);
    EXPECT_NE(run.IndexOf("Status Could not send chunk #3 of 3. Retrying..."),
              run.progress.calls.size());
    EXPECT_GE(run.log.Count("Can't send MIDI, not connected\n"), 1u);
    EXPECT_EQ(run.Outcome(),
              "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.");
}

TEST(SenderProgressTest, ChunkedPortionReportsInOrder) {
    Bytes data(2048, 0x01);
    Update update = MakeUpdate({{data, 0}}, 1, 5, "win:t:ideal:1024:max:1024:chunks:no");
    SenderRun run(update);
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    SimpleSysExSender sender(*run.port);
    EXPECT_TRUE(sender.SendChunked(update.GetPortion(0), *run.port, run.progress));
    EXPECT_EQ(run.progress.calls,
              (std::vector<std::string>{"Indeterminate", "Status Sent 1.0KB of 2.0KB",
                                        "Progress 0.500000", "Status Sent 2.0KB of 2.0KB",
                                        "Progress 1.000000", "Status Sent 2.0KB of 2.0KB"}));
    EXPECT_EQ(run.log.Count("Wait for 0.25 seconds"), 2u);
}

TEST(SenderProgressTest, PacingPauseIsProportionalToTheChunk) {
    struct Case {
        size_t size;
        int64_t pauseMs;
        const char* logged;
    };
    const Case cases[] = {{4096, 1000, "Wait for 1 seconds"},
                          {1024, 250, "Wait for 0.25 seconds"},
                          {100, 24, "Wait for 0.0244141 seconds"},
                          {4, 0, "Wait for 0.000976562 seconds"}};
    for (const Case& c : cases) {
        // One chunk, and no pauses of the port's own.
        Update update = MakeUpdate({{Bytes(c.size, 0x01), 0}}, 1, 5,
                                   "win:t:ideal:8192:delay:0:unprepdelay:0:chunks:no");
        SenderRun run(update);
        run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
        SimpleSysExSender sender(*run.port);
        int64_t before = GetTimeMs();
        sender.SendPortion(update.GetPortion(0), run.progress);
        EXPECT_EQ(GetTimeMs() - before, c.pauseMs) << c.size;
        EXPECT_TRUE(
            run.log.Contains(std::string("SimpleSysExSender::Send\nSysExSender::SendChunked") +
                             "(portion,port,progress)\n"));
        EXPECT_TRUE(run.log.Contains(c.logged)) << run.log.Text();
    }
}

TEST(SenderProgressTest, WholeRunMovesForwardAndEndsFull) {
    std::vector<TestPortion> portions = {
        {SysExData(5000), 200}, {SysExData(3000), 0}, {SysExData(2000), 100}};
    Update update = MakeUpdate(portions);
    SenderRun run(update);
    run.Send();
    const std::vector<float>& fractions = run.progress.fractions;
    ASSERT_FALSE(fractions.empty());
    EXPECT_EQ(fractions.front(), 0.0f);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    // Each portion's share ends at its byte boundary.
    EXPECT_NE(std::find(fractions.begin(), fractions.end(), 0.5f), fractions.end());
    EXPECT_NE(std::find(fractions.begin(), fractions.end(), 0.8f), fractions.end());
}

TEST(SenderBlockingMessageTest, ShownOnceAfterTheFirstOfSeveralPortions) {
    for (size_t count : {1u, 2u, 3u}) {
        std::vector<TestPortion> portions(count, TestPortion{SysExData(200), 500});
        Update update = MakeUpdate(portions);
        SenderRun run(update);
        run.Send();
        if (count == 1) {
            EXPECT_TRUE(run.progress.blocking.empty());
            continue;
        }
        ASSERT_EQ(run.progress.blocking.size(), 1u);
        EXPECT_EQ(run.progress.blocking[0], kBlockingMessageText);
        size_t accepted = run.IndexOf("Status Device has accepted update.");
        size_t blocking = run.IndexOf(std::string("Blocking ") + kBlockingMessageText);
        size_t rest = run.IndexOf("Status Waiting for device to become ready for more data...");
        EXPECT_LT(accepted, blocking);
        EXPECT_LT(blocking, rest);
        EXPECT_LT(blocking, run.IndexOf("Status Sending chunk #2 of " + std::to_string(count)));
    }
}

TEST(SenderDelayTest, RestIsThePortionDelayPlusSettlingTime) {
    struct Case {
        uint32_t delay;
        int64_t restMs;
    };
    for (const Case& c : {Case{0, 0}, Case{1500, 11500}}) {
        Update update = MakeUpdate({{SysExData(10), c.delay}});
        SenderRun run(update);
        SimMidiPort port(*run.device, update.GetPortSettings());
        SimpleSysExSender sender(port);
        int64_t before = GetTimeMs();
        sender.DoDelay(update.GetPortion(0), run.progress);
        EXPECT_EQ(GetTimeMs() - before, c.restMs);
        EXPECT_TRUE(run.log.Contains("SysExSender::SysExSenderDoDelay\n"));
        if (c.delay == 0)
            EXPECT_TRUE(run.progress.calls.empty());
        else
            EXPECT_EQ(
                run.progress.calls,
                (std::vector<std::string>{
                    "Status Waiting for device to become ready for more data...", "Indeterminate",
                    "Status Waiting for device to become active...", "Progress 1.000000"}));
    }
}

TEST(SenderLifetimeTest, DestroyingTheSenderLeavesThePortConnected) {
    Update update = MakeUpdate({{SysExData(10), 0}});
    SenderRun run(update);
    SimMidiPort port(*run.device, update.GetPortSettings());
    ASSERT_TRUE(port.IsConnected());
    {
        // cppcheck-suppress unreadVariable ; only its construction and destruction matter
        SimpleSysExSender sender(port);
    }
    EXPECT_TRUE(port.IsConnected());
    EXPECT_FALSE(run.log.Contains("Disconnect"));
}

} // namespace
