// The sender's verdicts under conditions that could fool them: late answers,
// ports that drop, replies read the way the Windows port reads them, empty
// portions, and updates too large for 32-bit counts.
#include "answerscript.h"
#include "simmessages.h"
#include "test_engine_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using namespace enginetest;

const char* const kAccepted =
    "The 'Kestrane Virtual Device' was updated sucessfully to version 1.05.";

// A device that answers a portion after the sender has stopped waiting for
// it: the answer arrives while the sender rests, and must not be taken for
// the next portion's.
TEST(SenderVerdictTest, LateAnswerIsNotTakenForTheNextPortion) {
    Update update = MakeUpdate({{SysExData(300), 5000}, {SysExData(200), 0}});
    SenderRun run(update);
    run.device->SetScript(ParseAnswerScript("accept,silent"));
    // Six waits of two seconds end 12 s after the portion; the answer comes
    // 13 s after it, in the portion's rest.
    run.device->SetAnswerLatencyMs(13000);
    run.device->SetIdentityEnabled(false);
    run.Send();
    ASSERT_EQ(run.result.portions.size(), 2u);
    EXPECT_EQ(run.result.portions[0].status, NoResponse);
    EXPECT_EQ(run.result.portions[1].status, NoResponse);
    EXPECT_EQ(run.result.outcome, SendOutcome::NoReply);
    EXPECT_EQ(run.Outcome(), kSentUncheckedText);
    // The late answer did reach the port, and was dropped there unread.
    EXPECT_TRUE(run.log.Contains("MidiPort::GotSysEx: 13 bytes"));
    EXPECT_FALSE(run.log.Contains("CheckSysExUpdateStatus: error="));
}

// An answer that arrives while its own portion is still being sent is taken
// at once by the status wait.
TEST(SenderVerdictTest, AnswerDuringTheSendIsTaken) {
    Update update = MakeUpdate({{SysExData(100), 0}});
    SenderRun run(update);
    run.device->SetScript(ParseAnswerScript("silent"));
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    ASSERT_TRUE(run.port->IsConnected());
    SimpleSysExSender sender(*run.port);
    // The status message arrives 10 ms into the send, which pauses 24 ms.
    run.device->ScheduleSend(10, BuildUpdateStatusMessage(kStatusAccepted, 1));
    sender.SendPortion(update.GetPortion(0), run.progress);
    int64_t before = GetTimeMs();
    EXPECT_EQ(WaitForUpdateToFinish(*run.port, run.progress), Accepted);
    EXPECT_EQ(GetTimeMs(), before);
}

TEST(SenderStatusTextTest, EachPortionShowsItsStatusThenWaitsThenSends) {
    Update update = MakeUpdate({{SysExData(300), 0}, {SysExData(200), 0}});
    SenderRun run(update);
    run.Send();
    const std::vector<std::string>& calls = run.progress.calls;
    auto expectRun = [&](size_t from, const std::vector<std::string>& expected) {
        ASSERT_LE(from + expected.size(), calls.size());
        EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<std::ptrdiff_t>(from),
                                           calls.begin() +
                                               static_cast<std::ptrdiff_t>(from + expected.size())),
                  expected);
    };
    // Status, the wait for the port (indeterminate), then the first chunk
    // (indeterminate) and its sent text.
    size_t first = run.IndexOf("Status Looking for Kestrane Virtual Device to update...");
    expectRun(first, {"Status Looking for Kestrane Virtual Device to update...", "Indeterminate",
                      "Indeterminate", "Status Sent 300 bytes of 300 bytes"});
    size_t second = run.IndexOf("Status Sending chunk #2 of 2", first);
    expectRun(second, {"Status Sending chunk #2 of 2", "Indeterminate", "Indeterminate",
                       "Status Sent 200 bytes of 200 bytes"});
    // After each portion's sending, its status wait.
    for (size_t from : {first, second}) {
        size_t checking = run.IndexOf("Status Checking update status...", from);
        ASSERT_LT(checking, calls.size());
        expectRun(checking, {"Status Checking update status...", "Indeterminate",
                             "Status Device has accepted update."});
    }
    EXPECT_LT(run.IndexOf("Status Checking update status...", first), second);
}

// A device that appears 25 s after the run starts: the first portion keeps
// its "Looking for" text through the retries, which are counted exactly.
TEST(SenderConnectionTest, FirstPortionWaitsWithoutRetryTextForALateDevice) {
    Update update = MakeUpdate({{SysExData(300), 0}, {SysExData(200), 0}});
    SenderRun run(update);
    run.device->SetAppearAfterMs(25000);
    run.Send();
    // Attempt 1: tests at 0..9 s fail (10 retries), the final test at 10 s
    // fails, pause to 11 s. Attempt 2: 11..20 s fail (10), final at 21 s, pause
    // to 22 s. Attempt 3: 22, 23 and 24 s fail (3), 25 s connects.
    EXPECT_EQ(run.log.Count("MIDI port is not connected. Waiting, then retrying\n"), 23u);
    EXPECT_EQ(run.IndexOf("Status Could not send chunk #1 of 2. Retrying..."),
              run.progress.calls.size());
    EXPECT_EQ(std::count(run.progress.calls.begin(), run.progress.calls.end(),
                         "Status Looking for Kestrane Virtual Device to update..."),
              1);
    // Three attempts, each starting with the indeterminate wait for the port.
    size_t looking = run.IndexOf("Status Looking for Kestrane Virtual Device to update...");
    EXPECT_EQ(std::vector<std::string>(
                  run.progress.calls.begin() + static_cast<std::ptrdiff_t>(looking + 1),
                  run.progress.calls.begin() + static_cast<std::ptrdiff_t>(looking + 5)),
              (std::vector<std::string>{"Indeterminate", "Indeterminate", "Indeterminate",
                                        "Indeterminate"}));
    EXPECT_EQ(run.result.outcome, SendOutcome::DeviceAccepted);
}

// A port that never answers and drops its connection: a counting double, no
// device needed.
class DroppingPort : public MidiPort {
public:
    int32_t GetIdealChunkSize() override { return 1024; }
    int32_t GetMaxChunkSize() override { return 3072; }
    bool IsConnected() override {
        ++connectionTests;
        return false;
    }
    void Disconnect() override { ++disconnects; }
    void Send(const uint8_t*, uint32_t) override {}

    int connectionTests = 0;
    int disconnects = 0;
};

TEST(SenderStatusWaitTest, DroppedPortIsDisconnectedAndPolledUntilTimeIsUp) {
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    LogCapture log;
    DroppingPort port;
    const int64_t before = GetTimeMs();
    EXPECT_EQ(GetUpdateStatus(port, 2000), NoResponse);
    EXPECT_EQ(GetTimeMs() - before, 2000);
    EXPECT_EQ(port.connectionTests, 4);
    EXPECT_EQ(port.disconnects, 4);
    EXPECT_EQ(log.Count("GetUpdateStatus: sysEx=(none)\n"), 4u);
}

TEST(SenderEmptyPortionTest, EmptyPortionSendsNothingAndIsDone) {
    Update update = MakeUpdate({{Bytes(), 0}});
    SenderRun run(update);
    run.port = std::make_unique<SimMidiPort>(*run.device, update.GetPortSettings());
    SimpleSysExSender sender(*run.port);
    EXPECT_TRUE(sender.SendChunked(update.GetPortion(0), *run.port, run.progress));
    EXPECT_EQ(run.progress.calls,
              (std::vector<std::string>{"Progress 1.000000", "Status Sent 0 bytes of 0 bytes"}));
    EXPECT_TRUE(run.device->GetReceivedBytes().empty());
    EXPECT_FALSE(run.log.Contains("SimMidiPort::Send"));
}

TEST(SenderEmptyPortionTest, UpdateOfEmptyPortionsOnlyRunsToTheVersionCheck) {
    Update update = MakeUpdate({{Bytes(), 0}, {Bytes(), 0}});
    SenderRun run(update);
    run.device->SetFirmwareVersion("1.05");
    run.Send();
    EXPECT_TRUE(run.device->GetReceivedBytes().size() == 6u) // only the identity request
        << run.device->GetReceivedBytes().size();
    for (float fraction : run.progress.fractions)
        EXPECT_TRUE(std::isfinite(fraction) && fraction >= 0.0f && fraction <= 1.0f) << fraction;
    EXPECT_EQ(run.progress.fractions.back(), 1.0f);
    ASSERT_EQ(run.result.portions.size(), 2u);
    EXPECT_TRUE(run.result.portions[0].sentWhole && run.result.portions[1].sentWhole);
    EXPECT_EQ(run.result.outcome, SendOutcome::VersionConfirmed);
    EXPECT_EQ(run.Outcome(), kAccepted);
}

// The Windows port's Request sends nothing: it returns the message the port
// holds at that moment. The final decision must hold on that path too. The
// double lets a message of the test's choosing arrive just before the request.
class StoredReplyPort : public SimMidiPort {
public:
    StoredReplyPort(DeviceSim& device, const PortSettings& settings, Bytes arriving)
        : SimMidiPort(device, settings), arriving(std::move(arriving)) {}
    Bytes Request(uint32_t, const uint8_t*, uint32_t) override {
        ++requests;
        for (uint8_t byte : arriving)
            sysExCollector.AddByte(byte);
        return GetSysEx();
    }
    int requests = 0;

private:
    Bytes arriving;
};

TEST(SenderOutcomeTest, FinalDecisionWithAPortThatOnlyReturnsTheStoredMessage) {
    struct Case {
        const char* name;
        Bytes stored;
        uint16_t major, minor;
        SendOutcome outcome;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing stored", {}, 1, 5, SendOutcome::NoReply, kSentUncheckedText},
        {"a status message stored", BuildUpdateStatusMessage(kStatusInstalling, 1), 1, 5,
         SendOutcome::ReplyUnreadable, kSentUnconfirmedText},
        {"the update's version", BuildIdentityReply({1, 5}), 1, 5, SendOutcome::VersionConfirmed,
         kAccepted},
        {"another version", BuildIdentityReply({1, 4}), 1, 5, SendOutcome::VersionMismatch,
         "The 'Kestrane Virtual Device' firmware version is now 1.04.\nThe update file version "
         "was 1.05.\nThe update process did not complete successfully."},
        {"the update names no version", BuildIdentityReply({2, 10}), 0, 0,
         SendOutcome::DeviceAtVersion,
         "The update has been sent to the device sucessfully.\nIt is now at version firmware "
         "2.10."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Update update = MakeUpdate({{SysExData(100), 0}}, c.major, c.minor);
        SenderRun run(update);
        run.device->SetScript(ParseAnswerScript("silent"));
        StoredReplyPort port(*run.device, update.GetPortSettings(), c.stored);
        SimpleSysExSender sender(port);
        SendResult result = sender.Send(update, run.progress);
        EXPECT_EQ(port.requests, 1);
        EXPECT_EQ(run.device->GetIdentityRequestCount(), 0); // nothing was sent
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(run.Outcome(), c.expected);
    }
}

} // namespace
