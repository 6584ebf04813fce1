// How closely a real-time send through the RtMidi port keeps to the schedule
// that the sender's rules and the port's pacing set, over a JACK server to
// kestrane-cli sim in another process. The schedule is the same send in
// virtual time against the emulated device in this process, through a port
// that waits as the RtMidi port does: each message's time on a 31250-baud
// cable, then the settings' delay and unprepdelay. The real run is timed on
// the wall clock and on this process's CPU clock (the sender and the JACK
// clients of its port; the device's process is not counted).
//
//   kestrane-bench-rtmidi [UPDATE]      (the example update unless given)
//
// JACK_DEFAULT_SERVER names the server, where kestrane-cli sim runs the
// device under the update's port name, expecting the same update.
#include "benchsupport.h"
#include "devicesim.h"
#include "midiwire.h"
#include "rtmidiport.h"
#include "sendupdate.h"
#include "simport.h"
#include "sysexframing.h"
#include "virtualclock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

namespace {

// The emulated device's in-process port with the RtMidi port's waits: the
// time each message takes on the cable comes on top of its pauses.
class CablePacedSimPort : public SimMidiPort {
public:
    CablePacedSimPort(DeviceSim& device, const PortSettings& portSettings)
        : SimMidiPort(device, portSettings), chunks(portSettings.chunks) {}

    void Send(const uint8_t* data, uint32_t count) override {
        SimMidiPort::Send(data, count);
        SleepMs(WireTimeMs(WireMessage(data, count, chunks).size()));
    }
    std::vector<uint8_t> Request(uint32_t timeoutMs, const uint8_t* request,
                                 uint32_t count) override {
        SleepMs(WireTimeMs(count));
        return SimMidiPort::Request(timeoutMs, request, count);
    }

private:
    const bool chunks;
};

double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const std::string path =
        argc > 1 ? std::string(argv[1]) : std::string(KESTRANE_SOURCE_DIR "/examples/example.upd");
    std::ifstream file(path, std::ios::binary);
    const Update update(file);
    QuietLog quiet;
    SetLogSink(&quiet);

    const double scheduleMs = ScheduleMs<CablePacedSimPort>(update);
    QuietProgress progress;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuMs();
    SendResult result;
    {
        RtMidiPort port(update.GetPortSettings(), MidiSystem::Jack);
        SimpleSysExSender sender(port);
        result = sender.Send(update, progress);
    }
    const double cpuMs = CpuMs() - cpuStart;
    const double wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
            .count();
    SetLogSink(nullptr);

    std::printf("RtMidi real-time send over JACK of %s\n", path.c_str());
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
