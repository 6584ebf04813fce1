// kestrane-cli sim: the emulated device for one update as a MIDI device of
// the system (virtual RtMidi ports), until it is interrupted, so that
// another program, or kestrane-cli send in another terminal, can update it.
#include "sim.h"

#ifdef KESTRANE_HAVE_RTMIDI

#include "devicesim.h"
#include "loadupdate.h"
#include "portnames.h"
#include "rtmidibackend.h"
#include "simreport.h"
#include "simsetup.h"
#include "virtualdevice.h"

#include <csignal>
#include <memory>
#include <stdexcept>

#include <pthread.h>

namespace {

// How long the device waits for a message before it looks for a signal.
constexpr uint32_t kPumpMs = 50;

// SIGINT and SIGTERM held back from every thread made while it lives (the
// MIDI system's threads included) and taken by the loop instead, so that the
// device stops cleanly between two messages. The previous mask comes back
// at the end.
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, &previous);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether a stop signal is pending; takes it.
    bool Take() {
        sigset_t pending;
        sigemptyset(&pending);
        if (sigpending(&pending) != 0)
            return false;
        if (!sigismember(&pending, SIGINT) && !sigismember(&pending, SIGTERM))
            return false;
        int signal = 0;
        sigwait(&signals, &signal);
        return true;
    }

private:
    sigset_t signals;
    sigset_t previous;
};

void PrintSummary(const DeviceSim& device, const VirtualMidiDevice& ports, std::ostream& out) {
    const uint64_t received = device.GetReceivedByteCount();
    out << "Stopped. Received " << received << " bytes";
    if (received > DeviceSim::kKeptBytesLimit)
        out << " (only the first " << DeviceSim::kKeptBytesLimit << " were kept in memory)";
    out << ".\n";
    if (const uint64_t ignored = device.GetIgnoredByteCount())
        out << "Ignored " << ignored
            << " bytes that were no update data (real-time bytes, notes and other messages, "
               "stray bytes, messages after the last portion).\n";
    if (const uint64_t dropped = ports.GetDroppedByteCount())
        out << "Dropped " << dropped
            << " bytes that came faster than the device could take them.\n";
    out << PortionSummary(device.GetPortionReports());
    out << "Identity requests: " << device.GetIdentityRequestCount() << ".\n";
}

} // namespace

int RunSim(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    const MidiSystem api = MidiSystemOption(args);
    const std::string name = args.Value("--sim-name", DeviceSim::kDefaultName);
    if (name.empty() || name.find(':') != std::string::npos)
        throw UsageError("--sim-name takes a name without ':', not '" + name + "'");
    const std::string& path = args.Operands().at(0);
    const std::unique_ptr<Update> update = LoadUpdateOrTell(path, err);
    if (!update)
        return kExitFailure;

    // Before the device's thread and the MIDI system's threads start, so
    // that they inherit the mask.
    StopSignals stop;
    DeviceSim device(PortionData(*update), update->GetPortSettings());
    device.SetPortNames(name, name);
    // The options are applied (the record file set up) only once the MIDI
    // system has been found, so that a refused run leaves no record file.
    const SimOptions options = ReadSimOptions(args, *update, path);
    if (!CheckMidiSystem(api, err))
        return kExitFailure;
    ApplySimOptions(device, options);
    std::unique_ptr<VirtualMidiDevice> ports;
    try {
        ports = std::make_unique<VirtualMidiDevice>(device, api, name);
    } catch (const std::runtime_error& e) {
        err << "kestrane-cli: " << e.what() << ".\n";
        return kExitFailure;
    }
    bool systemGone = false;
    {
        out << "The emulated device '" << name << "' is ready on " << MidiSystemTitle(api)
            << " for " << path << " (" << update->GetPortionCount() << " portions).\n";
        if (!MatchesPortName(update->GetPortSettings().names, name))
            out << "The update looks for other port names; send it with --port '" << name << "'.\n";
        out << "Stop it with Ctrl+C." << std::endl;
        while (!stop.Take()) {
            ports->Pump(kPumpMs);
            if (ports->IsSystemGone()) {
                systemGone = true;
                break;
            }
        }
        ports->Pump(0);
    }
    if (systemGone)
        err << "kestrane-cli: the " << MidiSystemTitle(api)
            << " server stopped; the emulated device is gone. Start the server and the "
               "device again.\n";
    PrintSummary(device, *ports, out);
    ports.reset();
    if (systemGone)
        return kExitFailure;
    if (device.HasRecordFileFailed()) {
        err << "kestrane-cli: could not write all received bytes to the record file \""
            << args.Value("--sim-record") << "\".\n";
        return kExitFailure;
    }
    return kExitOk;
}

#endif
