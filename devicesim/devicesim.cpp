#include "devicesim.h"

#include "portionmatcher.h"
#include "portnames.h"
#include "simmessages.h"
#include "simport.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <stdexcept>

namespace {

const char* const kTag = "DeviceSim";

std::string ByteText(int value) {
    return value < 0 ? std::string("none") : FormatText("0x%02x", static_cast<unsigned>(value));
}

} // namespace

const char* const DeviceSim::kDefaultName = "Kestrane Virtual Device";

std::vector<std::vector<uint8_t>> PortionData(const Update& update) {
    std::vector<std::vector<uint8_t>> data;
    for (size_t i = 0; i < update.GetPortionCount(); ++i)
        data.push_back(update.GetPortion(i).GetData());
    return data;
}

DeviceSim::DeviceSim(std::vector<std::vector<uint8_t>> portionData, bool chunked,
                     VirtualClock* virtualClock)
    : portions(std::move(portionData)), chunks(chunked), clock(virtualClock),
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
    appearAtMs = createdAtMs + std::max<int64_t>(ms, 0);
}

void DeviceSim::SetUnplug(size_t portionIndex, uint32_t afterBytes, int64_t replugAfterMs) {
    std::lock_guard<std::mutex> lock(mutex);
    unplugPlan.armed = true;
    unplugPlan.portion = portionIndex;
    unplugPlan.afterBytes = afterBytes;
    unplugPlan.replugAfterMs = std::max<int64_t>(replugAfterMs, 0);
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
    ScheduleLocked(GetTimeMs() + std::max<int64_t>(delayMs, 0), std::move(bytes));
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
        const uint32_t sofar = reports[expected].wireBytes;
        const size_t room = unplugPlan.afterBytes > sofar ? unplugPlan.afterBytes - sofar : 0;
        if (message.size() >= room) {
            accepted = room;
            unplug = true;
        }
    }
    RecordLocked(message.data(), accepted);
    if (expected < reports.size())
        reports[expected].wireBytes += static_cast<uint32_t>(accepted);
    if (accepted == message.size())
        HandleMessageLocked(message, now);
    if (unplug)
        UnplugLocked(now);
    return true;
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
    received.insert(received.end(), bytes, bytes + count);
    if (recordFile.is_open()) {
        recordFile.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
        recordFile.flush();
    }
}

void DeviceSim::HandleMessageLocked(const std::vector<uint8_t>& message, int64_t now) {
    const bool identityRequest = message == IdentityRequest();
    if (expected >= portions.size()) {
        if (identityRequest)
            AnswerIdentityLocked(now);
        else
            LogText("%s: unexpected message of %u bytes after the last portion\n", kTag,
                    static_cast<unsigned>(message.size()));
        return;
    }
    // The identity request counts as such only where it is not the data that
    // the device expects next.
    if (identityRequest && !(matcher->IsMatched() && matcher->Continues(message))) {
        AnswerIdentityLocked(now);
        return;
    }
    const bool wasMatched = matcher->IsMatched();
    matcher->Take(message);
    if (wasMatched && !matcher->IsMatched()) {
        PortionReport& report = reports[expected];
        report.matched = false;
        report.firstDifferenceOffset = matcher->GetDifferenceOffset();
        LogText("%s: portion %u differs at offset %u: expected %s, received %s\n", kTag,
                static_cast<unsigned>(expected + 1),
                static_cast<unsigned>(matcher->GetDifferenceOffset()),
                ByteText(matcher->GetExpectedByte()).c_str(),
                ByteText(matcher->GetReceivedByte()).c_str());
    }
    if (matcher->IsComplete())
        CompletePortionLocked(now);
}

void DeviceSim::StartPortionLocked() {
    matcher.reset();
    // Nothing can be received of a portion without bytes: it counts as done
    // and is not answered.
    while (expected < portions.size() && portions[expected].empty()) {
        reports[expected].complete = true;
        LogText("%s: portion %u holds no bytes\n", kTag, static_cast<unsigned>(expected + 1));
        ++expected;
    }
    if (expected < portions.size())
        matcher = std::make_unique<PortionMatcher>(portions[expected], chunks);
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

    const int64_t at = now + answerLatencyMs;
    switch (answer.kind) {
    case PortionAnswer::Accept:
        ScheduleLocked(at, BuildUpdateStatusMessage(kStatusAccepted, number));
        break;
    case PortionAnswer::Fail:
        ScheduleLocked(at, BuildUpdateStatusMessage(kStatusFailed, number));
        break;
    case PortionAnswer::Silent:
        break;
    case PortionAnswer::Install:
        for (int i = 0; i < answer.installCount; ++i)
            ScheduleLocked(at + i * installIntervalMs,
                           BuildUpdateStatusMessage(kStatusInstalling, number));
        ScheduleLocked(at + answer.installCount * installIntervalMs,
                       BuildUpdateStatusMessage(kStatusAccepted, number));
        break;
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
    ScheduleLocked(now + answerLatencyMs, BuildIdentityReply(firmwareVersion));
}

void DeviceSim::UnplugLocked(int64_t now) {
    const size_t portion = unplugPlan.portion;
    unplugPlan.armed = false;
    if (!reports[portion].complete)
        reports[portion].interrupted = true;
    LogText("%s: unplugged after %u bytes of portion %u, back in %u ms\n", kTag,
            static_cast<unsigned>(reports[portion].wireBytes), static_cast<unsigned>(portion + 1),
            static_cast<unsigned>(unplugPlan.replugAfterMs));
    unplugged = true;
    replugAtMs = now + unplugPlan.replugAfterMs;
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
            wake.wait_for(lock, std::chrono::milliseconds(outgoing.begin()->first - now), changed);
    }
    caughtUp.notify_all();
}
