// How closely a real-time send keeps to the schedule that the sender's own
// rules set: the pacing pause after each chunk, the port's pauses after each
// message, the status waits and the device's rest times. The schedule is
// measured by running the same send in virtual time, where the clock moves by
// exactly the sum of the waits; the real run is then timed on the wall clock
// and on the process's CPU clock.
#include "benchsupport.h"
#include "devicesim.h"
#include "sendupdate.h"
#include "simport.h"
#include "virtualclock.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace {

Update LoadExample() {
    std::ifstream file(KESTRANE_SOURCE_DIR "/examples/example.upd", std::ios::binary);
    return Update(file);
}

std::string SendOnce(const Update& update, VirtualClock* clock) {
    DeviceSim device(PortionData(update), update.GetPortSettings(), clock);
    QuietProgress progress;
    {
        SimMidiPort port(device, update.GetPortSettings());
        SimpleSysExSender sender(port);
        sender.Send(update, progress);
    }
    return progress.outcome;
}

void BM_RealTimeSendOfExample(benchmark::State& state) {
    QuietLog quiet;
    LogSink* previous = SetLogSink(&quiet);
    const Update update = LoadExample();
    const double scheduleMs = ScheduleMs<SimMidiPort>(update);
    double wallMs = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        auto wallStart = std::chrono::steady_clock::now();
        std::clock_t cpuStart = std::clock();
        std::string outcome = SendOnce(update, nullptr);
        cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
                .count();
        if (outcome.find("updated sucessfully") == std::string::npos)
            state.SkipWithError("the emulated device did not take the update");
    }
    SetLogSink(previous);
    state.counters["schedule_ms"] = scheduleMs;
    state.counters["wall_ms"] = wallMs;
    state.counters["overhead_pct"] = 100.0 * (wallMs - scheduleMs) / scheduleMs;
    state.counters["cpu_pct_of_wall"] = 100.0 * cpuMs / wallMs;
}

} // namespace

// One real-time send lasts about half a minute.
BENCHMARK(BM_RealTimeSendOfExample)->Iterations(1)->Unit(benchmark::kMillisecond);
