// The WinMM back end of kestrane-cli: the port that the application uses, and
// the devices as WinMM lists them.
#include "midibackend.h"

#include "mididevices.h"
#include "portnames.h"
#include "sendsequence.h"
#include "winmidiport.h"

#include <memory>

namespace {

bool IsUsableWinMmPort(const std::string& port) {
    return IsUsablePortName(NormalisePortName(port));
}

} // namespace

bool HasMidiBackEnd() {
    return true;
}

int SendThroughMidiPort(const Update& update, const CommandArguments& args, std::ostream& out,
                        std::ostream&) {
    const PortSettings settings =
        ChosenPortSettings(update, args, IsUsableWinMmPort,
                           "is the system's own synthesizer or mapper, which is never updated; "
                           "see 'kestrane-cli ports'");
    const SentUpdate sent = SendWithProgress(
        update, [&settings] { return std::make_unique<WindowsMidiPort>(settings); },
        args.Has("--yes"), out);
    return ReportSendResult(sent, out);
}

int RunPorts(const CommandArguments&, std::ostream& out, std::ostream&) {
    auto list = [&out](const char* heading, const std::vector<MidiDeviceName>& devices) {
        out << heading << "\n";
        if (devices.empty())
            out << "  (none)\n";
        for (size_t number = 0; number < devices.size(); ++number) {
            const MidiDeviceName& device = devices[number];
            out << "  " << number << ": ";
            if (!device.readable) {
                out << "(its name cannot be read; never matched)\n";
                continue;
            }
            out << device.name;
            if (!IsUsablePortName(NormalisePortName(device.name)))
                out << "  (the system's own; never matched)";
            out << "\n";
        }
    };
    list("MIDI outputs:", ReadOutputDevices());
    list("MIDI inputs:", ReadInputDevices());
    return kExitOk;
}
