// Shared by the real-time send benchmarks: a progress sink and a log that
// drop everything (the benchmarks are about time, not about the display),
// and the schedule of a send, measured in virtual time.
#pragma once

#include "devicesim.h"
#include "progress.h"
#include "sendupdate.h"
#include "utils.h"
#include "virtualclock.h"

#include <string>

class QuietProgress : public UpdateProgress {
public:
    void Progress(float) override {}
    void ProgressIndeterminate() override {}
    void Status(const std::string&) override {}
    void Error(const std::string&) override {}
    void Completed(const std::string& text) override { outcome = text; }
    void BlockingMessage(const std::string&) override {}
    std::string outcome;
};

class QuietLog : public LogSink {
public:
    void Write(const char*) override {}
};

// The schedule the sender's own rules set for the update: the same send in
// virtual time against the emulated device in this process, through a port
// of type Port (built from the device and the update's settings) that pauses
// as the real port does. The clock moves by exactly the sum of the waits.
template <typename Port> double ScheduleMs(const Update& update) {
    VirtualClock clock;
    ScopedVirtualTime time(clock);
    DeviceSim device(PortionData(update), update.GetPortSettings(), &clock);
    QuietProgress progress;
    {
        Port port(device, update.GetPortSettings());
        SimpleSysExSender sender(port);
        sender.Send(update, progress);
    }
    return static_cast<double>(clock.NowMs() - VirtualClock::kDefaultOriginMs);
}
