// How closely a real-time send through the WinMM port keeps to the schedule
// that the sender's own rules set, on Windows or under Wine against the
// emulated device's MIDI driver. The schedule is the same send in virtual
// time against the emulated device in-process (the port pauses the same way:
// the settings' delay after each message, unprepdelay after each release);
// the real run is timed on the wall clock and on the process's CPU clock.
//
//   kestrane-bench-winmm [UPDATE]      (the example update unless given)
//
// The driver must present the device under the update's port name, expecting
// the same update (KESTRANE_SIM_UPDATE).
#include "benchsupport.h"
#include "devicesim.h"
#include "sendupdate.h"
#include "simport.h"
#include "virtualclock.h"
#include "winmidiport.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& time) {
        ULARGE_INTEGER value;
        value.LowPart = time.dwLowDateTime;
        value.HighPart = time.dwHighDateTime;
        return static_cast<double>(value.QuadPart) / 10000.0; // 100 ns units
    };
    return ms(kernel) + ms(user);
}

} // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? std::string(argv[1]) : std::string(KESTRANE_SOURCE_DIR "/examples/example.upd");
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    QuietLog quiet;
    SetLogSink(&quiet);

    const double scheduleMs = ScheduleMs<SimMidiPort>(update);
    QuietProgress progress;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuMs();
    SendResult result;
    {
        WindowsMidiPort port(update.GetPortSettings());
        SimpleSysExSender sender(port);
        result = sender.Send(update, progress);
    }
    const double cpuMs = CpuMs() - cpuStart;
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
            .count();
    SetLogSink(nullptr);

    std::printf("WinMM real-time send of %s\n", path.c_str());
    std::printf("  outcome:          %s\n", progress.outcome.c_str());
    std::printf("  schedule:         %.0f ms\n", scheduleMs);
    std::printf("  wall:             %.0f ms\n", wallMs);
    std::printf("  overhead:         %.3f %%\n", 100.0 * (wallMs - scheduleMs) / scheduleMs);
    std::printf("  CPU of wall:      %.3f %%\n", 100.0 * cpuMs / wallMs);
    const bool accepted = result.outcome == SendOutcome::DeviceAccepted ||
                          result.outcome == SendOutcome::VersionConfirmed;
    if (!accepted)
        std::printf("the device did not take the update\n");
    return accepted ? 0 : 1;
}
