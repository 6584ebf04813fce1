// The device's reading of the byte stream: it follows the messages, judges
// each byte against the expected portion's wire image, starts a portion over
// after a cut-off message, answers complete portions and identity requests,
// and unplugs itself where it is told to.
#include "devicesim.h"

#include "devicesimcommon.h"
#include "portionwire.h"
#include "simmessages.h"
#include "utils.h"

#include <string>

using devicesim::kTag;
using devicesim::LaterMs;

namespace {

std::string ByteText(int value) {
    return value < 0 ? std::string("none") : FormatText("0x%02x", static_cast<unsigned>(value));
}

} // namespace

void DeviceSim::HandleMessageLocked(const std::vector<uint8_t>& message, int64_t now) {
    // The identity request counts as such only where it is not the message
    // that the device expects next.
    if (message == IdentityRequest() && (!wire || message != wire->GetMessage())) {
        AnswerIdentityLocked(now);
        return;
    }
    if (!wire) {
        LogText("%s: unexpected message of %u bytes after the last portion\n", kTag,
                static_cast<unsigned>(message.size()));
        return;
    }
    // Every message stands for the one expected next, whatever it holds, so
    // that a portion ends where the sender ends it even on a wrong wire.
    PortionReport& report = reports[expected];
    const MessageDifference difference = FirstDifference(wire->GetMessage(), message);
    if (report.matched && difference.index >= 0) {
        report.matched = false;
        report.firstDifferenceOffset = static_cast<int64_t>(wire->GetOffset()) + difference.index;
        LogText("%s: portion %u differs at wire byte %s: expected %s, received %s\n", kTag,
                static_cast<unsigned>(expected + 1),
                std::to_string(report.firstDifferenceOffset).c_str(),
                ByteText(difference.expected).c_str(), ByteText(difference.received).c_str());
    }
    wire->Advance();
    if (wire->IsDone())
        CompletePortionLocked(now);
}

void DeviceSim::ReadByteLocked(uint8_t byte, int64_t now) {
    if (byte >= 0xF8) {
        ++ignoredBytes; // real-time bytes belong to no message
        return;
    }
    // A message that begins like the Identity Request is held until it shows
    // whether it is one; only then can it be told from update data.
    const std::vector<uint8_t>& request = IdentityRequest();
    if (byte == 0xF0 && !held.empty()) {
        std::vector<uint8_t> before;
        before.swap(held);
        for (uint8_t earlier : before)
            JudgeByteLocked(earlier, now);
    }
    if (byte != 0xF0 && held.empty()) {
        JudgeByteLocked(byte, now);
        return;
    }
    held.push_back(byte);
    const size_t count = held.size();
    if (count < request.size() && std::equal(held.begin(), held.end(), request.begin())) {
        // Held bytes that end the portion are its data at once: nothing
        // more may come to tell them from a request.
        if (!ExpectsNextLocked(held) || image.size() - imageOffset > count)
            return;
    }
    if (held == request && !ExpectsNextLocked(held)) {
        held.clear();
        // The request ends any message before it.
        if (inSysEx && wire && reports[expected].matched)
            StartOverLocked();
        inSysEx = false;
        inOtherMessage = false;
        AnswerIdentityLocked(now);
        return;
    }
    std::vector<uint8_t> bytes;
    bytes.swap(held);
    for (uint8_t b : bytes)
        JudgeByteLocked(b, now);
}

bool DeviceSim::ExpectsNextLocked(const std::vector<uint8_t>& bytes) const {
    return wire && image.size() - imageOffset >= bytes.size() &&
           std::equal(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(imageOffset));
}

void DeviceSim::JudgeByteLocked(uint8_t byte, int64_t now) {
    if (!wire) {
        JudgeAfterLastPortionLocked(byte);
        return;
    }
    PortionReport& report = reports[expected];
    if (byte < 0x80 && inOtherMessage) {
        ++ignoredBytes; // data of a note or the like
        return;
    }
    if (byte == image[imageOffset]) {
        AdvanceImageLocked(byte, now);
        return;
    }
    if (byte == 0xF0) {
        // A message that was cut off before its end: the portion starts over
        // with this one. After a difference the stream is wrong anyway and
        // the device goes on counting, so that the portion still ends.
        if (inSysEx && report.matched) {
            StartOverLocked();
            JudgeByteLocked(byte, now);
            return;
        }
    } else if (byte >= 0x80 && byte != 0xF7) {
        // Another message's status byte; it ends a SysEx message too.
        if (inSysEx && report.matched)
            StartOverLocked();
        inSysEx = false;
        inOtherMessage = true;
        ++ignoredBytes;
        return;
    } else if (!inSysEx) {
        ++ignoredBytes; // a stray byte between messages
        return;
    }
    if (report.matched) {
        report.matched = false;
        report.firstDifferenceOffset = static_cast<int64_t>(imageOffset);
        LogText("%s: portion %u differs at wire byte %s: expected %s, received %s\n", kTag,
                static_cast<unsigned>(expected + 1), std::to_string(imageOffset).c_str(),
                ByteText(image[imageOffset]).c_str(), ByteText(byte).c_str());
    }
    AdvanceImageLocked(byte, now);
}

void DeviceSim::AdvanceImageLocked(uint8_t byte, int64_t now) {
    if (byte == 0xF0) {
        inSysEx = true;
        inOtherMessage = false;
    } else if (byte == 0xF7) {
        inSysEx = false;
    } else if (byte >= 0x80) {
        inOtherMessage = false;
    }
    if (++imageOffset == image.size())
        CompletePortionLocked(now);
}

void DeviceSim::JudgeAfterLastPortionLocked(uint8_t byte) {
    ++ignoredBytes;
    if (byte == 0xF0) {
        inSysEx = true;
        strayMessageBytes = 0;
    } else if (byte >= 0x80 && byte != 0xF7) {
        inSysEx = false;
    }
    if (!inSysEx)
        return;
    ++strayMessageBytes;
    if (byte == 0xF7) {
        inSysEx = false;
        LogText("%s: unexpected message of %s bytes after the last portion\n", kTag,
                std::to_string(strayMessageBytes).c_str());
    }
}

void DeviceSim::StartOverLocked() {
    if (imageOffset == 0) {
        inSysEx = false; // a message left open by the portion before
        return;
    }
    PortionReport& report = reports[expected];
    ++report.restarts;
    LogText("%s: portion %u: a message was cut off after %s of its wire bytes; "
            "starting the portion over\n",
            kTag, static_cast<unsigned>(expected + 1), std::to_string(imageOffset).c_str());
    imageOffset = 0;
    inSysEx = false;
}

void DeviceSim::StartPortionLocked() {
    wire.reset();
    image.clear();
    imageOffset = 0;
    // Nothing can be received of a portion without bytes: it counts as done
    // and is not answered.
    while (expected < portions.size() && portions[expected].empty()) {
        reports[expected].complete = true;
        LogText("%s: portion %u holds no bytes\n", kTag, static_cast<unsigned>(expected + 1));
        ++expected;
    }
    if (expected < portions.size()) {
        wire = std::make_unique<PortionWire>(portions[expected], settings);
        for (const std::vector<uint8_t>& message : PortionWireImage(portions[expected], settings))
            image.insert(image.end(), message.begin(), message.end());
    }
}

void DeviceSim::CompletePortionLocked(int64_t now) {
    PortionReport& report = reports[expected];
    report.complete = true;
    PortionAnswer answer = script.ForPortion(expected);
    // Data that differs is never accepted; a silent device stays silent.
    if (!report.matched && answer.kind != PortionAnswer::Silent)
        answer = PortionAnswer{PortionAnswer::Fail, 0};
    const uint32_t number = static_cast<uint32_t>(expected + 1);
    LogText("%s: portion %u complete (%u bytes%s), answering %s\n", kTag,
            static_cast<unsigned>(number), static_cast<unsigned>(portions[expected].size()),
            report.matched ? "" : ", with differences", answer.ToString().c_str());

    const int64_t at = LaterMs(now, answerLatencyMs);
    switch (answer.kind) {
    case PortionAnswer::Accept:
        ScheduleLocked(at, BuildUpdateStatusMessage(kStatusAccepted, number));
        break;
    case PortionAnswer::Fail:
        ScheduleLocked(at, BuildUpdateStatusMessage(kStatusFailed, number));
        break;
    case PortionAnswer::Silent:
        break;
    case PortionAnswer::Install: {
        int64_t due = at;
        for (int i = 0; i < answer.installCount; ++i) {
            ScheduleLocked(due, BuildUpdateStatusMessage(kStatusInstalling, number));
            due = LaterMs(due, installIntervalMs);
        }
        ScheduleLocked(due, BuildUpdateStatusMessage(kStatusAccepted, number));
        break;
    }
    }
    ++expected;
    StartPortionLocked();
}

void DeviceSim::AnswerIdentityLocked(int64_t now) {
    ++identityRequests;
    if (!identityEnabled) {
        LogText("%s: identity request, not answering\n", kTag);
        return;
    }
    LogText("%s: identity request, answering version %u.%02u\n", kTag,
            static_cast<unsigned>(firmwareVersion.major),
            static_cast<unsigned>(firmwareVersion.minor));
    ScheduleLocked(LaterMs(now, answerLatencyMs), BuildIdentityReply(firmwareVersion));
}

void DeviceSim::UnplugLocked(int64_t now) {
    const size_t portion = unplugPlan.portion;
    unplugPlan.armed = false;
    if (!reports[portion].complete)
        reports[portion].interrupted = true;
    LogText("%s: unplugged after %s bytes of portion %u, back in %s ms\n", kTag,
            std::to_string(reports[portion].wireBytes).c_str(), static_cast<unsigned>(portion + 1),
            std::to_string(unplugPlan.replugAfterMs).c_str());
    unplugged = true;
    replugAtMs = LaterMs(now, unplugPlan.replugAfterMs);
    // Nor does it remember a message it was reading.
    inSysEx = false;
    inOtherMessage = false;
    held.clear();
    ++plugCount;
    // A device that loses power forgets what it was about to say.
    outgoing.clear();
    ++outgoingVersion;
    // The sender does not send the interrupted portion again.
    if (expected == portion) {
        ++expected;
        StartPortionLocked();
    }
}
