#include "devicesim.h"

#include "devicesimcommon.h"
#include "portionwire.h"
#include "portnames.h"
#include "simmessages.h"
#include "simport.h"
#include "utils.h"

#include <algorithm>
#include <cassert>

using devicesim::kTag;
using devicesim::LaterMs;

const char* const DeviceSim::kDefaultName = "Kestrane Virtual Device";

std::vector<std::vector<uint8_t>> PortionData(const Update& update) {
    std::vector<std::vector<uint8_t>> data;
    for (size_t i = 0; i < update.GetPortionCount(); ++i)
        data.push_back(update.GetPortion(i).GetData());
    return data;
}

DeviceSim::DeviceSim(std::vector<std::vector<uint8_t>> portionData,
                     const PortSettings& portSettings, VirtualClock* virtualClock,
                     Delivery answerDelivery)
    : portions(std::move(portionData)), settings(portSettings), clock(virtualClock),
      delivery(answerDelivery), outputName(kDefaultName), inputName(kDefaultName),
      createdAtMs(GetTimeMs()), appearAtMs(createdAtMs), reports(portions.size()) {
    firmwareVersion.major = 1;
    firmwareVersion.minor = 0;
    StartPortionLocked(); // no other thread knows the device yet
    if (delivery == Delivery::OwnThread)
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
    if (driver.joinable())
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
