// kestrane-cli send: runs the real sender against the emulated device, with a
// progress display, and tells the outcome by the exit status.
#include "commands.h"
#include "consoleprogress.h"

#include "answerscript.h"
#include "devicesim.h"
#include "portnames.h"
#include "sendupdate.h"
#include "simport.h"
#include "utils.h"
#include "virtualclock.h"

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

// Whether a text is what a printf format with only %s conversions gives for
// some arguments.
bool MatchesFormat(const char* text, const char* format) {
    for (; *format != '\0'; ++format, ++text) {
        if (format[0] == '%' && format[1] == 's') {
            for (const char* rest = text;; ++rest) {
                if (MatchesFormat(rest, format + 2))
                    return true;
                if (*rest == '\0')
                    return false;
            }
        }
        if (*text != *format)
            return false;
    }
    return *text == '\0';
}

} // namespace

int OutcomeExitStatus(const std::string& outcome) {
    const char* text = outcome.c_str();
    if (MatchesFormat(text, kUpdatedFormat) || MatchesFormat(text, kSentNowAtVersionFormat))
        return kExitOk;
    if (outcome == kSendErrorText || MatchesFormat(text, kVersionMismatchFormat))
        return kExitDeviceError;
    if (outcome == kSentUncheckedText || outcome == kSentUnconfirmedText)
        return kExitUnconfirmed;
    return kExitFailure;
}

namespace {

int64_t ParseMilliseconds(const std::string& text, const char* option) {
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0)
        throw UsageError(std::string(option) + " takes a number of milliseconds, not '" + text +
                         "'");
    return value;
}

// PORTION:BYTES:MS, the portion counted from 1.
void ApplyUnplug(DeviceSim& device, const std::string& text) {
    std::vector<std::string> fields = Split(text, ':');
    if (fields.size() != 3)
        throw UsageError("--sim-unplug takes PORTION:BYTES:MS, not '" + text + "'");
    int64_t portion = ParseMilliseconds(fields[0], "--sim-unplug");
    int64_t bytes = ParseMilliseconds(fields[1], "--sim-unplug");
    int64_t replugMs = ParseMilliseconds(fields[2], "--sim-unplug");
    if (portion < 1 || bytes > UINT32_MAX)
        throw UsageError("--sim-unplug takes PORTION:BYTES:MS with PORTION from 1, not '" + text +
                         "'");
    device.SetUnplug(static_cast<size_t>(portion - 1), static_cast<uint32_t>(bytes), replugMs);
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

    DeviceSim device(PortionData(update), settings.chunks, clock);
    device.SetPortNames(name, name);
    try {
        device.SetScript(ParseAnswerScript(args.Value("--sim", "accept")));
        if (args.Has("--sim-version"))
            device.SetFirmwareVersion(args.Value("--sim-version"));
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    if (args.Has("--sim-no-identity"))
        device.SetIdentityEnabled(false);
    if (args.Has("--sim-appear"))
        device.SetAppearAfterMs(ParseMilliseconds(args.Value("--sim-appear"), "--sim-appear"));
    if (args.Has("--sim-unplug"))
        ApplyUnplug(device, args.Value("--sim-unplug"));
    if (args.Has("--sim-record"))
        device.SetRecordFile(args.Value("--sim-record"));

    bool terminal = &out == &std::cout && ConsoleProgress::IsTerminal(stdout);
    ConsoleProgress progress(out, std::cin, terminal, args.Has("--yes"));
    {
        SimMidiPort port(device, settings);
        SimpleSysExSender sender(port);
        sender.Send(update, progress);
    }
    if (clock != nullptr)
        out << "Simulated time: " << std::fixed << std::setprecision(1)
            << static_cast<double>(clock->NowMs() - VirtualClock::kDefaultOriginMs) / 1000.0
            << " s\n";
    out << progress.GetOutcome() << std::endl;
    if (device.HasRecordFileFailed()) {
        err << "kestrane-cli: could not write all received bytes to the record file \""
            << args.Value("--sim-record") << "\".\n";
        return kExitFailure;
    }
    return OutcomeExitStatus(progress.GetOutcome());
}

} // namespace

int RunSend(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    std::string device = args.Value("--device");
    if (device.empty()) {
        err << "kestrane-cli: this build has no MIDI back end to reach a real device yet; use "
               "--device sim to send to the emulated device.\n";
        return kExitFailure;
    }
    if (device != "sim")
        throw UsageError("unknown device '" + device + "' (the only one is 'sim')");

    const std::string& path = args.Operands().at(0);
    std::ifstream file(path, std::ios::binary);
    std::unique_ptr<Update> update;
    try {
        update = std::make_unique<Update>(file);
    } catch (const ParseError& e) {
        err << e.what() << "\n";
        return kExitFailure;
    }

    if (!args.Has("--virtual-time"))
        return SendToDevice(*update, args, out, err, nullptr);
    // Every wait of the run passes in simulated time; the clock is installed
    // before the device starts its thread.
    VirtualClock clock;
    ScopedVirtualTime virtualTime(clock);
    return SendToDevice(*update, args, out, err, &clock);
}
