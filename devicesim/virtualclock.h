// Simulated time for running the transfer engine against an emulated device:
// every sleep advances the clock at once, so a transfer that would take
// minutes runs in a fraction of a second and always the same way.
#pragma once

#include "utils.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// Told each time the virtual clock has moved on.
class ClockListener {
public:
    virtual ~ClockListener() = default;
    // Called on the sleeping thread; must have caught up with everything due
    // at or before nowMs when it returns.
    virtual void AdvancedTo(int64_t nowMs) = 0;
};

class VirtualClock : public TimeSource {
public:
    static constexpr int64_t kDefaultOriginMs = 1000000;

    explicit VirtualClock(int64_t originMs = kDefaultOriginMs) : now(originMs) {}
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    int64_t NowMs() override { return now.load(); }
    // Moves the clock forward by ms at once, then lets every listener catch
    // up before returning. Sleeps from several threads take turns.
    void Sleep(uint32_t ms) override;

    // A listener must be removed before it is destroyed; removal waits for a
    // notification in progress to end.
    void AddListener(ClockListener* listener);
    void RemoveListener(ClockListener* listener);

private:
    std::atomic<int64_t> now;
    std::mutex listenersMutex; // held while listeners are told, so removal is safe
    std::vector<ClockListener*> listeners;
};

// Makes a clock the time source of GetTimeMs and SleepMs for its lifetime and
// restores the previous one afterwards. Install it before any thread that
// reads the time is started.
class ScopedVirtualTime {
public:
    explicit ScopedVirtualTime(VirtualClock& clock) : previous(SetTimeSource(&clock)) {}
    ~ScopedVirtualTime() { SetTimeSource(previous); }
    ScopedVirtualTime(const ScopedVirtualTime&) = delete;
    ScopedVirtualTime& operator=(const ScopedVirtualTime&) = delete;

private:
    TimeSource* previous;
};
