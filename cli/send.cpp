// kestrane-cli send: runs the real sender against a real device (the MIDI
// back end) or the emulated one, with a progress display, and tells the
// outcome by the exit status.
#include "send.h"

#include "loadupdate.h"
#include "midibackend.h"
#include "sendsequence.h"

#include "devicesim.h"
#include "portnames.h"
#include "simport.h"
#include "simsetup.h"
#include "virtualclock.h"

#include <algorithm>
#include <iomanip>
#include <memory>

namespace {

std::string JoinNames(const std::set<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "'" : ", '") + name + "'";
    return joined;
}

// Sends the update to the emulated device configured by the options.
int SendToDevice(const Update& update, const CommandArguments& args, std::ostream& out,
                 std::ostream& err, VirtualClock* clock) {
    // The sender waits for its device without limit, as a person would wait
    // for a device to be plugged in; an emulated device that can never match
    // would keep it waiting for ever.
    const std::string name = args.Value("--sim-name", DeviceSim::kDefaultName);
    const PortSettings& settings = update.GetPortSettings();
    if (!MatchesPortName(settings.names, name)) {
        err << "kestrane-cli: the emulated device '" << name
            << "' does not match the update's port names (" << JoinNames(settings.names)
            << "); give it one of them with --sim-name.\n";
        return kExitFailure;
    }

    const SimOptions options = ReadSimOptions(args, update, args.Operands().at(0));
    DeviceSim device(PortionData(update), settings, clock);
    device.SetPortNames(name, name);
    ApplySimOptions(device, options);

    const SentUpdate sent = SendWithProgress(
        update, [&device, &settings] { return std::make_unique<SimMidiPort>(device, settings); },
        args.Has("--yes"), out);
    if (clock != nullptr)
        out << "Simulated time: " << std::fixed << std::setprecision(1)
            << static_cast<double>(clock->NowMs() - VirtualClock::kDefaultOriginMs) / 1000.0
            << " s\n";
    const int status = ReportSendResult(sent, out);
    if (device.HasRecordFileFailed()) {
        err << "kestrane-cli: could not write all received bytes to the record file \""
            << args.Value("--sim-record") << "\".\n";
        return kExitFailure;
    }
    return status;
}

} // namespace

int RunSend(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    // Without --device the update goes to a real device through the MIDI
    // back end; --device sim picks the emulated one.
    const std::string device = args.Value("--device");
    if (!device.empty() && device != "sim")
        throw UsageError("unknown device '" + device + "' (the only one is 'sim')");
    if (!device.empty() && args.Has("--port"))
        throw UsageError("--port chooses a MIDI port, but --device sim sends to the emulated "
                         "device (name it with --sim-name)");
    if (!device.empty() && args.Has("--api"))
        throw UsageError("--api chooses a MIDI system, but --device sim sends to the emulated "
                         "device in this process");
    static const char* const kSimOptions[] = {
        "--sim",        "--sim-name",   "--sim-version",      "--sim-no-identity", "--sim-appear",
        "--sim-unplug", "--sim-record", "--sim-whole-blocks", "--virtual-time"};
    const auto simOption = std::find_if(std::begin(kSimOptions), std::end(kSimOptions),
                                        [&args](const char* option) { return args.Has(option); });
    if (device.empty() && simOption != std::end(kSimOptions))
        throw UsageError(std::string(*simOption) + " needs --device sim");

    if (device.empty() && !HasMidiBackEnd()) {
        err << "kestrane-cli: " << kNoMidiBackEndText << "; use --device sim to send to the "
            << "emulated device.\n";
        return kExitFailure;
    }

    const std::string& path = args.Operands().at(0);
    const std::unique_ptr<Update> update = LoadUpdateOrTell(path, err);
    if (!update)
        return kExitFailure;

    if (device.empty())
        return SendThroughMidiPort(*update, args, out, err);
    if (!args.Has("--virtual-time"))
        return SendToDevice(*update, args, out, err, nullptr);
    // Every wait of the run passes in simulated time; the clock is installed
    // before the device starts its thread.
    VirtualClock clock;
    ScopedVirtualTime virtualTime(clock);
    return SendToDevice(*update, args, out, err, &clock);
}
