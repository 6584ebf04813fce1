// kestrane-cli send: runs the real sender against the emulated device, with a
// progress display, and tells the outcome by the exit status.
#include "commands.h"
#include "consoleprogress.h"
#include "loadupdate.h"

#include "devicesim.h"
#include "midisend.h"
#include "portionwire.h"
#include "portnames.h"
#include "sendupdate.h"
#include "simport.h"
#include "simsetup.h"
#include "utils.h"
#include "virtualclock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>

namespace {

// Exit statuses by outcome.
constexpr int kExitDeviceError = 2; // the device reported an error, or runs another version
constexpr int kExitUnconfirmed = 3; // sent, but the device did not confirm it

} // namespace

int OutcomeExitStatus(SendOutcome outcome) {
    switch (outcome) {
    case SendOutcome::DeviceAccepted:
    case SendOutcome::VersionConfirmed:
    case SendOutcome::DeviceAtVersion:
        return kExitOk;
    case SendOutcome::DeviceFailed:
    case SendOutcome::VersionMismatch:
        return kExitDeviceError;
    case SendOutcome::NoReply:
    case SendOutcome::ReplyUnreadable:
        return kExitUnconfirmed;
    }
    return kExitFailure;
}

std::vector<std::string> PortionWarnings(const SendResult& result) {
    std::vector<std::string> warnings;
    const size_t count = result.portions.size();
    for (size_t index = 0; index < count; ++index) {
        const PortionResult& portion = result.portions[index];
        const std::string which =
            "Warning: portion " + std::to_string(index + 1) + " of " + std::to_string(count);
        if (!portion.sentWhole)
            warnings.push_back(which + " did not reach the device whole.");
        // The last portion's answer is the outcome itself.
        if (portion.status == Failed && index + 1 < count)
            warnings.push_back(which + " was reported failed by the device.");
    }
    return warnings;
}

int ReportSendResult(const SendResult& result, const std::string& outcome, std::ostream& out) {
    for (const std::string& warning : PortionWarnings(result))
        out << warning << "\n";
    out << outcome << std::endl;
    return OutcomeExitStatus(result.outcome);
}

namespace {

// The longest time an option of the emulated device may name: a day.
constexpr uint64_t kMaxSimMs = 86400000;
const char* const kMaxSimMsText = "86400000 (24 hours)";

// A whole number of decimal digits (leading zeros allowed) from min to max;
// anything else is a UsageError with the text of `refusal`.
uint64_t ParseNumber(const std::string& text, uint64_t min, uint64_t max,
                     const std::string& refusal) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(refusal);
    uint64_t value = 0;
    for (char digit : text) {
        const uint64_t next = static_cast<uint64_t>(digit - '0');
        if (next > max || value > (max - next) / 10) // value * 10 + next would pass max
            throw UsageError(refusal);
        value = value * 10 + next;
    }
    if (value < min)
        throw UsageError(refusal);
    return value;
}

int64_t ParseMilliseconds(const std::string& text, const char* option) {
    return static_cast<int64_t>(ParseNumber(text, 0, kMaxSimMs,
                                            std::string(option) +
                                                " takes a number of milliseconds from 0 to " +
                                                kMaxSimMsText + ", not '" + text + "'"));
}

// PORTION:BYTES:MS, the portion counted from 1, BYTES counted on the wire
// (framing included) and at most the portion's wire size, where the portion
// has been received whole.
void ApplyUnplug(DeviceSim& device, const Update& update, const std::string& text) {
    const std::string form = "--sim-unplug takes PORTION:BYTES:MS";
    std::vector<std::string> fields = Split(text, ':');
    if (fields.size() != 3)
        throw UsageError(form + ", not '" + text + "'");
    const size_t portions = update.GetPortionCount();
    if (portions == 0)
        throw UsageError("--sim-unplug names a portion, but the update has none");
    const uint64_t portion =
        ParseNumber(fields[0], 1, portions,
                    form + " with PORTION from 1 to " + std::to_string(portions) +
                        " (the update's portions), not '" + text + "'");
    const std::vector<uint8_t>& data = update.GetPortion(portion - 1).GetData();
    if (data.empty())
        throw UsageError("--sim-unplug names portion " + std::to_string(portion) +
                         ", which holds no bytes and is never sent");
    const uint64_t wireSize = PortionWireSize(data, update.GetPortSettings());
    const uint64_t bytes = ParseNumber(fields[1], 0, wireSize,
                                       form + " with BYTES from 0 to " + std::to_string(wireSize) +
                                           " (portion " + std::to_string(portion) +
                                           " on the wire, framing included), not '" + text + "'");
    const uint64_t replugMs =
        ParseNumber(fields[2], 0, kMaxSimMs,
                    form + " with MS from 0 to " + kMaxSimMsText + ", not '" + text + "'");
    device.SetUnplug(static_cast<size_t>(portion - 1), bytes, static_cast<int64_t>(replugMs));
}

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

    DeviceSim device(PortionData(update), settings, clock);
    device.SetPortNames(name, name);
    ConfigureAnswers(device, args);
    if (args.Has("--sim-appear"))
        device.SetAppearAfterMs(ParseMilliseconds(args.Value("--sim-appear"), "--sim-appear"));
    if (args.Has("--sim-unplug"))
        ApplyUnplug(device, update, args.Value("--sim-unplug"));
    if (args.Has("--sim-record")) {
        CheckRecordIsNotUpdate(args.Value("--sim-record"), args.Operands().at(0));
        device.SetRecordFile(args.Value("--sim-record"));
    }

    bool terminal = &out == &std::cout && ConsoleProgress::IsTerminal(stdout);
    ConsoleProgress progress(out, std::cin, terminal, args.Has("--yes"));
    SendResult result;
    {
        SimMidiPort port(device, settings);
        SimpleSysExSender sender(port);
        result = sender.Send(update, progress);
    }
    if (clock != nullptr)
        out << "Simulated time: " << std::fixed << std::setprecision(1)
            << static_cast<double>(clock->NowMs() - VirtualClock::kDefaultOriginMs) / 1000.0
            << " s\n";
    const int status = ReportSendResult(result, progress.GetOutcome(), out);
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
