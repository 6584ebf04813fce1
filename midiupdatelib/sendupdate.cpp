#include "sendupdate.h"

#include "utils.h"

#include <algorithm>
#include <cassert>

const char* const kBlockingMessageText =
    "Preparing your update...\n\n1. Please release the SHIFT key.\n2. Switch off your Dravo "
    "hardware.\n3. Wait five seconds.\n4. Switch your Dravo hardware back on.\n5. Press OK.";
const char* const kUpdatedFormat = "The '%s' was updated sucessfully to version %s.";
const char* const kSendErrorText =
    "There was an error sending the update file.\nPlease restart the device and try again.";
const char* const kSentUncheckedText =
    "The update has been sent.\nPlease check your device for update status.\nYou may need to "
    "restart the device for the update process to complete.";
const char* const kSentUnconfirmedText = "The update has been sent, but the device has not yet "
                                         "confirmed that the update process was successful.";
const char* const kSentNowAtVersionFormat =
    "The update has been sent to the device sucessfully.\nIt is now at version firmware %s.";
const char* const kVersionMismatchFormat =
    "The '%s' firmware version is now %s.\nThe update file version was %s.\nThe update process "
    "did not complete successfully.";

namespace {

// Update-status message: F0, manufacturer 00 00 3F, 73, six bytes, flags, F7.
const uint8_t kStatusHeader[] = {0xF0, 0x00, 0x00, 0x3F, 0x73};
constexpr size_t kStatusMessageSize = 13;
constexpr size_t kStatusFlagsIndex = 11;
constexpr uint8_t kStatusErrorMask = 0x0F;
constexpr uint8_t kStatusInstallingBit = 0x20;

// The MIDI Identity Request to all devices, and the reply header we accept.
const uint8_t kIdentityRequest[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const uint8_t kIdentityReplyHeader[] = {0xF0, 0x7E, 0x00, 0x06, 0x02};
constexpr size_t kDeviceNameSize = 16;

constexpr uint32_t kStatusPollMs = 500;
constexpr uint32_t kStatusWaitMs = 2000;
constexpr int kStatusAttempts = 6;
constexpr int kMaxInstallingAnswers = 200;

constexpr int kConnectionTests = 10;
constexpr uint32_t kConnectionRetryMs = 1000;
constexpr float kPacingBytesPerSecond = 4096.0f;
constexpr uint32_t kSettlingMs = 10000;
constexpr uint32_t kIdentityTimeoutMs = 5000;

} // namespace

UpdateStatus CheckSysExUpdateStatus(const std::vector<uint8_t>& message) {
    if (message.size() != kStatusMessageSize ||
        !std::equal(std::begin(kStatusHeader), std::end(kStatusHeader), message.begin()))
        return NoResponse;
    uint8_t flags = message[kStatusFlagsIndex];
    LogText("%s: error=(0x%02x)\n", "CheckSysExUpdateStatus", flags);
    if ((flags & kStatusErrorMask) != 0)
        return Failed; // error bits win over the installing bit
    if ((flags & kStatusInstallingBit) != 0)
        return Installing;
    return Accepted;
}

UpdateStatus GetUpdateStatus(MidiPort& port, uint32_t timeoutMs) {
    int64_t start = GetTimeMs();
    // Taking and emptying the store is one step: a reply that completes on
    // the input thread in between must not be cleared unseen.
    std::vector<uint8_t> message = port.TakeSysEx();
    while (message.empty()) {
        if (GetTimeMs() >= start + static_cast<int64_t>(timeoutMs))
            break;
        SleepMs(kStatusPollMs);
        message = port.TakeSysEx();
        if (!port.IsConnected())
            port.Disconnect();
        LogText("%s: sysEx=(%s)\n", "GetUpdateStatus", message.empty() ? "none" : "something");
    }
    return CheckSysExUpdateStatus(message);
}

UpdateStatus WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress) {
    const char* tag = "WaitForUpdateToFinish";
    LogText("%s >>\n", tag);
    if (!port.IsConnected()) {
        LogText("%s: not connected\n", tag);
        return NoResponse;
    }
    progress.Status("Checking update status...");
    progress.ProgressIndeterminate();

    UpdateStatus result = NoResponse;
    bool installingShown = false;
    for (int attempt = 0; attempt < kStatusAttempts && result == NoResponse; ++attempt) {
        int installingAnswers = 0;
        for (;;) {
            result = GetUpdateStatus(port, kStatusWaitMs);
            if (result != Installing || installingAnswers >= kMaxInstallingAnswers)
                break;
            if (!installingShown) {
                progress.Status("Waiting for device to complete update installation...");
                progress.ProgressIndeterminate();
                installingShown = true;
            }
            ++installingAnswers;
        }
    }
    progress.Status(result == Accepted ? "Device has accepted update."
                                       : "Device has not yet responded to update.");
    progress.Progress(1.0f);
    LogText("%s << (%d)\n", tag, static_cast<int>(result));
    return result;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes)
        text += FormatText("%02X ", byte);
    return text;
}

DeviceIdentity ParseDeviceEnquiryResponse(const std::vector<uint8_t>& reply) {
    const char* tag = "ParseDeviceEnquiryResponse";
    DeviceIdentity identity;
    if (reply.size() < sizeof kIdentityReplyHeader) {
        LogText("%s: MIDI sysex header short\n", tag);
        return identity;
    }
    if (!std::equal(std::begin(kIdentityReplyHeader), std::end(kIdentityReplyHeader),
                    reply.begin())) {
        LogText("%s: MIDI sysex header wrong\n", tag);
        return identity;
    }
    // Never read past the reply; a cut-short reply tells us nothing.
    if (reply.size() <= sizeof kIdentityReplyHeader) {
        LogText("%s: MIDI sysex reply short\n", tag);
        return identity;
    }
    // A zero first byte introduces a three-byte manufacturer identifier.
    size_t idSize = reply[5] == 0 ? 3 : 1;
    size_t family = 5 + idSize;
    size_t versionAt = family + 3;
    size_t nameAt = versionAt + 4 + 5;
    if (reply.size() < nameAt + kDeviceNameSize) {
        LogText("%s: MIDI sysex reply short\n", tag);
        return identity;
    }
    identity.manufacturer =
        HexText(std::vector<uint8_t>(reply.begin() + 5, reply.begin() + family));
    identity.family = HexText(std::vector<uint8_t>(1, reply[family]));
    const uint8_t* d = &reply[versionAt];
    identity.version = FormatText("%d.%d%d", d[0] * 22 + d[1], d[2], d[3]);
    for (size_t i = 0; i < kDeviceNameSize; ++i) {
        uint8_t c = reply[nameAt + i];
        if (c == 0 || c >= 0x7F)
            break;
        identity.name += static_cast<char>(c);
    }
    return identity;
}

void ByteRange::AdvanceStart(uint32_t count) {
    start += count;
    assert(start <= end);
}

ByteRange NextChunk(const ByteRange& remaining, int32_t ideal, int32_t max) {
    // The sizes come from the update file unchecked. Compared as unsigned, a
    // negative size is huge; an ideal of 0 would test the byte before the
    // chunk and could stop the transfer from advancing, so it counts as 1.
    uint32_t idealSize = ideal == 0 ? 1u : static_cast<uint32_t>(ideal);
    uint32_t maxSize = static_cast<uint32_t>(max);
    if (remaining.Size() < idealSize)
        return remaining;
    ByteRange chunk = {remaining.start, remaining.start + idealSize};
    while (chunk.Size() < maxSize && chunk.end != remaining.end && chunk.end[-1] != 0xF7 &&
           chunk.end[-1] != 0x0A)
        chunk.ExtendEnd(1);
    return chunk;
}

float ProgressFraction(const ByteRange& total, const ByteRange& remaining) {
    assert(total.end == remaining.end);
    float done = static_cast<float>(static_cast<int32_t>(remaining.start - total.start));
    float whole = static_cast<float>(static_cast<int32_t>(total.end - total.start));
    return done / whole;
}

SysExSender::SysExSender(MidiPort& port) : port(port) {
    LogText("%s", "SysExSender::SysExSender");
}

bool SysExSender::WaitForConnection(MidiPort& port) {
    for (int test = 0; test < kConnectionTests; ++test) {
        if (port.IsConnected())
            break;
        LogText("MIDI port is not connected. Waiting, then retrying\n");
        SleepMs(kConnectionRetryMs);
    }
    return port.IsConnected();
}

void SysExSender::DoDelay(const Update::SysExPortion& portion, UpdateProgress& progress) {
    LogText("%s\n", "DoDelay");
    if (portion.GetDelay() == 0)
        return;
    progress.Status("Waiting for device to become ready for more data...");
    progress.ProgressIndeterminate();
    SleepMs(portion.GetDelay());
    progress.Status("Waiting for device to become active...");
    SleepMs(kSettlingMs);
    progress.Progress(1.0f);
}

bool SysExSender::SendChunked(const Update::SysExPortion& portion, MidiPort& port,
                              UpdateProgress& progress) {
    LogText("%s(portion,port,progress)\n", "SysExSender::SendChunked");
    const std::vector<uint8_t>& data = portion.GetData();
    const ByteRange total = {data.data(), data.data() + data.size()};
    ByteRange remaining = total;
    ByteRange sent = {total.start, total.start};
    const int32_t ideal = port.GetIdealChunkSize();
    const int32_t max = port.GetMaxChunkSize();
    port.TakeSendFailures(); // count only this portion's blocks
    auto sentText = [&] {
        return "Sent " + ByteSizeText(sent.Size()) + " of " + ByteSizeText(total.Size());
    };

    while (!remaining.IsEmpty()) {
        ByteRange chunk = NextChunk(remaining, ideal, max);
        if (chunk.start == total.start)
            progress.ProgressIndeterminate();
        else
            progress.Progress(ProgressFraction(total, remaining));
        port.Send(chunk.start, chunk.Size());
        sent.ExtendEnd(chunk.Size());
        progress.Status(sentText());
        remaining.AdvanceStart(chunk.Size());

        // Pace the device: a pause in proportion to the chunk just sent.
        float seconds =
            static_cast<float>(static_cast<double>(chunk.Size())) / kPacingBytesPerSecond;
        LogText("Wait for %g seconds", seconds);
        SleepMs(static_cast<uint32_t>(seconds * 1000.0f));
    }
    progress.Progress(1.0f);
    progress.Status(sentText());
    return port.TakeSendFailures() == 0;
}

SendResult SysExSender::Send(const Update& update, UpdateProgress& progress) {
    LogText("%s(update,sender,progress)\n", "SysExSender::Send");
    progress.Progress(0.0f);
    progress.ProgressIndeterminate();
    progress.Status("Started update");

    // Sums kept in 64 bits, so that no count can wrap on the way.
    const uint64_t totalBytes = update.GetTotalSysExSize();
    const uint32_t portionCount = static_cast<uint32_t>(update.GetPortionCount());
    uint64_t sentBytes = 0;
    UpdateStatus status = NoResponse;
    SendResult result;

    for (uint32_t i = 0; i < portionCount; ++i) {
        const Update::SysExPortion& portion = update.GetPortion(i);
        const uint64_t size = portion.GetData().size();
        UpdateProgressConverter portionProgress(progress, static_cast<float>(sentBytes),
                                                static_cast<float>(sentBytes + size),
                                                static_cast<float>(totalBytes));
        if (i == 0)
            portionProgress.Status("Looking for " + update.GetProductName() + " to update...");
        else
            portionProgress.Status(FormatText("Sending chunk #%u of %u", i + 1, portionCount));

        PortionResult portionResult;
        do {
            progress.ProgressIndeterminate();
            if (WaitForConnection(port)) {
                // Whatever the device said before this portion is not its
                // answer to it: a late answer to the previous portion must not
                // pass for this one's.
                port.ClearSysEx();
                portionResult.sentWhole = SendPortion(portion, portionProgress);
                // The device's answer alone decides how the portion went.
                status = WaitForUpdateToFinish(port, portionProgress);
                LogText("%s: Disconnecting\n", "SysExSender::Send");
                if (i == 0 && portionCount > 1)
                    progress.BlockingMessage(kBlockingMessageText);
                DoDelay(portion, portionProgress);
                port.Disconnect();
            } else {
                if (i > 0)
                    portionProgress.Status(FormatText("Could not send chunk #%u of %u. Retrying...",
                                                      i + 1, portionCount));
                SleepMs(kConnectionRetryMs);
                status = NotConnected;
            }
        } while (status == NotConnected);
        portionResult.status = status;
        result.portions.push_back(portionResult);
        sentBytes += size;
    }

    progress.Progress(1.0f);
    progress.Status("MIDI update sent successfully.");

    // Only the last portion's answer reaches the outcome.
    const std::string version = update.GetVersion().ToString();
    const char* product = update.GetProductName().c_str();
    if (status == Accepted) {
        progress.Completed(FormatText(kUpdatedFormat, product, version.c_str()));
        result.outcome = SendOutcome::DeviceAccepted;
        return result;
    }
    if (status == Failed) {
        progress.Completed(kSendErrorText);
        result.outcome = SendOutcome::DeviceFailed;
        return result;
    }

    // No verdict from the device: ask it which firmware it now runs.
    progress.Status("Verifying update status...");
    std::vector<uint8_t> reply =
        port.Request(kIdentityTimeoutMs, kIdentityRequest, sizeof kIdentityRequest);
    if (reply.empty()) {
        progress.Completed(kSentUncheckedText);
        result.outcome = SendOutcome::NoReply;
        return result;
    }
    DeviceIdentity identity = ParseDeviceEnquiryResponse(reply);
    if (identity.version.empty()) {
        progress.Completed(kSentUnconfirmedText);
        result.outcome = SendOutcome::ReplyUnreadable;
    } else if (!update.GetVersion().IsKnown()) {
        progress.Completed(FormatText(kSentNowAtVersionFormat, identity.version.c_str()));
        result.outcome = SendOutcome::DeviceAtVersion;
    } else if (identity.version != version) {
        progress.Completed(
            FormatText(kVersionMismatchFormat, product, identity.version.c_str(), version.c_str()));
        result.outcome = SendOutcome::VersionMismatch;
    } else {
        progress.Completed(FormatText(kUpdatedFormat, product, version.c_str()));
        result.outcome = SendOutcome::VersionConfirmed;
    }
    return result;
}

bool SimpleSysExSender::SendPortion(const Update::SysExPortion& portion, UpdateProgress& progress) {
    LogText("SimpleSysExSender::Send\n");
    return SendChunked(portion, port, progress);
}
