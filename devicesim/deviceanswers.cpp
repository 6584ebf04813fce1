// The device's answers: they wait by due time until they are delivered, in
// real time or as a virtual clock advances, by the device's driver thread or,
// for a device driven by its caller, by the thread that advances the clock
// or calls DeliverDue.
#include "devicesim.h"

#include "devicesimcommon.h"
#include "simport.h"
#include "utils.h"

#include <algorithm>
#include <chrono>

using devicesim::kTag;
using devicesim::LaterMs;

namespace {

// The longest single wait of the real-time driver; it looks again after it.
constexpr int64_t kLongestWaitMs = 3600000;

} // namespace

void DeviceSim::ScheduleSend(int64_t delayMs, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    ScheduleLocked(LaterMs(GetTimeMs(), delayMs), std::move(bytes));
}

void DeviceSim::DeliverDue() {
    if (delivery != Delivery::ByCaller)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    DeliverDueLocked(GetTimeMs());
}

void DeviceSim::AdvancedTo(int64_t nowMs) {
    std::unique_lock<std::mutex> lock(mutex);
    if (outgoing.empty() || outgoing.begin()->first > nowMs)
        return; // nothing due: no need to wake the driver
    if (delivery == Delivery::ByCaller) {
        DeliverDueLocked(nowMs);
        return;
    }
    advanceTargetMs = nowMs;
    const uint64_t request = ++advancesRequested;
    wake.notify_all();
    caughtUp.wait(lock, [&] { return advancesDone >= request || stopping; });
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
