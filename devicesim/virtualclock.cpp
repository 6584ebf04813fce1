#include "virtualclock.h"

#include <algorithm>

void VirtualClock::Sleep(uint32_t ms) {
    std::lock_guard<std::mutex> lock(listenersMutex);
    int64_t target = now.fetch_add(ms) + ms;
    for (ClockListener* listener : listeners)
        listener->AdvancedTo(target);
}

void VirtualClock::AddListener(ClockListener* listener) {
    std::lock_guard<std::mutex> lock(listenersMutex);
    listeners.push_back(listener);
}

void VirtualClock::RemoveListener(ClockListener* listener) {
    std::lock_guard<std::mutex> lock(listenersMutex);
    listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
}
