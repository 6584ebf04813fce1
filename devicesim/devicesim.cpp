#include "devicesim.h"

#include "portionwire.h"
#include "portnames.h"
#include "simmessages.h"
#include "simport.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <limits>
#include <stdexcept>

namespace {

const char* const kTag = "DeviceSim";

std::string ByteText(int value) {
    return value < 0 ? std::string("none") : FormatText("0x%02x", static_cast<unsigned>(value));
}

// A time ms after `at`, held at the clock's end instead of running past it.
int64_t LaterMs(int64_t at, int64_t ms) {
    constexpr int64_t kEnd = std::numeric_limits<int64_t>::max();
    ms = std::max<int64_t>(ms, 0);
    return at > kEnd - ms ? kEnd : at + ms;
}

// The longest single wait of the real-time driver; it looks again after it.
constexpr int64_t kLongestWaitMs = 3600000;

} // namespace

const char* const DeviceSim::kDefaultName = "Kestrane Virtual Device";

std::vector<std::vector<uint8_t>> PortionData(const Update& update) {
    std::vector<std::vector<uint8_t>> data;
    for (size_t i = 0; i < update.GetPortionCount(); ++i)
        data.push_back(update.GetPortion(i).GetData());
    return data;
}

DeviceSim::DeviceSim(std::vector<std::vector<uint8_t>> portionData,
                     const PortSettings& portSettings, VirtualClock* virtualClock)
    : portions(std::move(portionData)), settings(portSettings), clock(virtualClock),
      outputName(kDefaultName), inputName(kDefaultName), createdAtMs(GetTimeMs()),
      appearAtMs(createdAtMs), reports(portions.size()) {
    firmwareVersion.major = 1;
    firmwareVersion.minor = 0;
    StartPortionLocked(); // no other thread knows the device yet
    driver = std::thread(&DeviceSim::DriverLoop, this);
    if (clock)
        clock->AddListener(this);
}

DeviceSim::~DeviceSim() {
    if (clock)
        clock->RemoveListener(this); // waits for an advance in progress
    {
        std::lock_guard<std::mutex> lock(mutex);
        assert(connections.empty() && "every port must be destroyed before its device");
        stopping = true;
    }
    wake.notify_all();
    driver.join();
}

void DeviceSim::SetPortNames(const std::string& output, const std::string& input) {
    std::lock_guard<std::mutex> lock(mutex);
    outputName = output;
    inputName = input;
}

void DeviceSim::SetScript(const AnswerScript& answers) {
    std::lock_guard<std::mutex> lock(mutex);
    script = answers;
}

void DeviceSim::SetAnswerLatencyMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex);
    answerLatencyMs = std::max<int64_t>(ms, 0);
}

void DeviceSim::SetInstallIntervalMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex);
    installIntervalMs = std::max<int64_t>(ms, 0);
}

void DeviceSim::SetFirmwareVersion(const FirmwareVersion& version) {
    CheckIdentityVersion(version);
    std::lock_guard<std::mutex> lock(mutex);
    firmwareVersion = version;
}

void DeviceSim::SetFirmwareVersion(const std::string& text) {
    SetFirmwareVersion(ParseIdentityVersion(text));
}

void DeviceSim::SetIdentityEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex);
    identityEnabled = enabled;
}

void DeviceSim::SetAppearAfterMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex);
    appearAtMs = LaterMs(createdAtMs, ms);
}

void DeviceSim::SetUnplug(size_t portionIndex, uint64_t afterBytes, int64_t replugAfterMs) {
    std::lock_guard<std::mutex> lock(mutex);
    unplugPlan.armed = true;
    unplugPlan.portion = portionIndex;
    unplugPlan.afterBytes = afterBytes;
    unplugPlan.replugAfterMs = std::max<int64_t>(replugAfterMs, 0);
}

void DeviceSim::SetWholeBlocks(bool whole) {
    std::lock_guard<std::mutex> lock(mutex);
    wholeBlocks = whole;
}

void DeviceSim::SetRecordFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    recordFile.close();
    recordFile.clear();
    recordFile.open(path, std::ios::binary | std::ios::trunc);
    if (!recordFile.is_open())
        throw std::runtime_error("Can't open the record file \"" + path + "\" for writing.");
}

void DeviceSim::ScheduleSend(int64_t delayMs, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    ScheduleLocked(LaterMs(GetTimeMs(), delayMs), std::move(bytes));
}

bool DeviceSim::IsPresent() {
    std::lock_guard<std::mutex> lock(mutex);
    return PresentLocked(GetTimeMs());
}

std::string DeviceSim::GetOutputName() const {
    std::lock_guard<std::mutex> lock(mutex);
    return outputName;
}

std::string DeviceSim::GetInputName() const {
    std::lock_guard<std::mutex> lock(mutex);
    return inputName;
}

std::vector<uint8_t> DeviceSim::GetReceivedBytes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

uint64_t DeviceSim::GetReceivedByteCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return receivedCount;
}

uint64_t DeviceSim::GetIgnoredByteCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ignoredBytes;
}

std::vector<PortionReport> DeviceSim::GetPortionReports() const {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
}

size_t DeviceSim::GetExpectedPortion() const {
    std::lock_guard<std::mutex> lock(mutex);
    return expected;
}

int DeviceSim::GetIdentityRequestCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return identityRequests;
}

bool DeviceSim::HasRecordFileFailed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return recordFile.is_open() && !recordFile.good();
}

void DeviceSim::AdvancedTo(int64_t nowMs) {
    std::unique_lock<std::mutex> lock(mutex);
    if (outgoing.empty() || outgoing.begin()->first > nowMs)
        return; // nothing due: no need to wake the driver
    advanceTargetMs = nowMs;
    const uint64_t request = ++advancesRequested;
    wake.notify_all();
    caughtUp.wait(lock, [&] { return advancesDone >= request || stopping; });
}

void DeviceSim::Attach(SimMidiPort* port) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.push_back({port, false, false, 0});
}

void DeviceSim::Detach(SimMidiPort* port) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [port](const Connection& c) { return c.port == port; }),
                      connections.end());
}

bool DeviceSim::Open(SimMidiPort* port, const std::set<std::string>& names) {
    std::lock_guard<std::mutex> lock(mutex);
    const int64_t now = GetTimeMs();
    Connection* connection = FindLocked(port);
    if (!connection)
        return false;
    if (connection->open)
        return UsableLocked(*connection, now); // a connection from before an unplug stays dead
    if (!PresentLocked(now) || !MatchesPortName(names, outputName))
        return false;
    connection->open = true;
    connection->inputOpen = MatchesPortName(names, inputName);
    connection->plugCount = plugCount;
    if (!connection->inputOpen)
        LogText("%s: opened, but no input matches: answers will not arrive\n", kTag);
    return true;
}

void DeviceSim::Close(SimMidiPort* port) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Connection* connection = FindLocked(port)) {
        connection->open = false;
        connection->inputOpen = false;
    }
}

bool DeviceSim::Receive(SimMidiPort* port, const std::vector<uint8_t>& message) {
    std::lock_guard<std::mutex> lock(mutex);
    const int64_t now = GetTimeMs();
    Connection* connection = FindLocked(port);
    if (!connection || !UsableLocked(*connection, now))
        return false;

    size_t accepted = message.size();
    bool unplug = false;
    if (unplugPlan.armed && expected == unplugPlan.portion && expected < reports.size()) {
        const uint64_t sofar = reports[expected].wireBytes;
        const uint64_t room = unplugPlan.afterBytes > sofar ? unplugPlan.afterBytes - sofar : 0;
        if (message.size() >= room) {
            accepted = static_cast<size_t>(room);
            unplug = true;
        }
    }
    RecordLocked(message.data(), accepted);
    if (expected < reports.size())
        reports[expected].wireBytes += accepted;
    if (wholeBlocks) {
        if (accepted == message.size())
            HandleMessageLocked(message, now);
    } else {
        for (size_t i = 0; i < accepted; ++i)
            ReadByteLocked(message[i], now);
    }
    if (unplug)
        UnplugLocked(now);
    return accepted == message.size();
}

bool DeviceSim::PresentLocked(int64_t now) {
    if (now < appearAtMs)
        return false;
    if (!appeared) {
        appeared = true;
        if (appearAtMs > createdAtMs)
            LogText("%s: plugged in\n", kTag);
    }
    if (unplugged) {
        if (now < replugAtMs)
            return false;
        unplugged = false;
        LogText("%s: plugged in again, waiting for portion %u\n", kTag,
                static_cast<unsigned>(expected + 1));
    }
    return true;
}

DeviceSim::Connection* DeviceSim::FindLocked(const SimMidiPort* port) {
    auto found = std::find_if(connections.begin(), connections.end(),
                              [port](const Connection& c) { return c.port == port; });
    return found == connections.end() ? nullptr : &*found;
}

bool DeviceSim::UsableLocked(const Connection& connection, int64_t now) {
    return connection.open && connection.plugCount == plugCount && PresentLocked(now);
}

void DeviceSim::RecordLocked(const uint8_t* bytes, size_t count) {
    receivedCount += count;
    const size_t room = kKeptBytesLimit - received.size();
    if (count > room && room > 0)
        LogText("%s: keeps only the first %u received bytes in memory\n", kTag,
                static_cast<unsigned>(kKeptBytesLimit));
    received.insert(received.end(), bytes, bytes + std::min(count, room));
    if (recordFile.is_open()) {
        recordFile.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
        recordFile.flush();
    }
}

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

void DeviceSim::ScheduleLocked(int64_t dueMs, std::vector<uint8_t> bytes) {
    outgoing.emplace(dueMs, std::move(bytes));
    ++outgoingVersion;
    wake.notify_all();
}

void DeviceSim::DeliverDueLocked(int64_t upToMs) {
    while (!outgoing.empty() && outgoing.begin()->first <= upToMs) {
        const int64_t dueMs = outgoing.begin()->first;
        std::vector<uint8_t> bytes = std::move(outgoing.begin()->second);
        outgoing.erase(outgoing.begin());
        bool delivered = false;
        for (Connection& connection : connections) {
            if (connection.inputOpen && UsableLocked(connection, dueMs)) {
                connection.port->DeliverInput(bytes);
                delivered = true;
            }
        }
        if (!delivered)
            LogText("%s: no port is listening, %u bytes lost\n", kTag,
                    static_cast<unsigned>(bytes.size()));
    }
}

void DeviceSim::DriverLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        if (clock) {
            // Virtual time: deliver only when the clock has advanced, then
            // tell the waiting advance that everything due has been delivered.
            wake.wait(lock, [&] { return stopping || advancesDone != advancesRequested; });
        }
        if (stopping)
            break;
        if (clock) {
            DeliverDueLocked(advanceTargetMs);
            advancesDone = advancesRequested;
            caughtUp.notify_all();
            continue;
        }
        const int64_t now = GetTimeMs();
        DeliverDueLocked(now);
        const uint64_t seen = outgoingVersion;
        auto changed = [&] { return stopping || outgoingVersion != seen; };
        if (outgoing.empty())
            wake.wait(lock, changed);
        else
            wake.wait_for(
                lock,
                std::chrono::milliseconds(std::min(outgoing.begin()->first - now, kLongestWaitMs)),
                changed);
    }
    caughtUp.notify_all();
}
