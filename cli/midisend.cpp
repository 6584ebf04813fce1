// The real MIDI back end of kestrane-cli: on Windows, the WinMM port that the
// application uses; elsewhere none yet.
#include "midisend.h"

#include "consoleprogress.h"
#include "portnames.h"
#include "sendupdate.h"

#include <iostream>

#ifdef _WIN32
#include "mididevices.h"
#include "winmidiport.h"
#endif

const char* const kNoMidiBackEndText = "this build has no MIDI back end to reach a real device yet";

#ifdef _WIN32

bool HasMidiBackEnd() {
    return true;
}

int SendThroughMidiPort(const Update& update, const CommandArguments& args, std::ostream& out,
                        std::ostream&) {
    PortSettings settings = update.GetPortSettings();
    if (args.Has("--port")) {
        const std::string port = args.Value("--port");
        if (!IsUsablePortName(NormalisePortName(port)))
            throw UsageError("the port '" + port +
                             "' is the system's own synthesizer or mapper, which is never "
                             "updated; see 'kestrane-cli ports'");
        // The chosen port replaces every name the update gives, as when the
        // user picks a port in the application.
        settings.names.clear();
        settings.names.insert(port);
    } else if (update.IsSysEx()) {
        throw UsageError("a plain SysEx file names no MIDI port: choose the device's port with "
                         "--port NAME (see 'kestrane-cli ports')");
    }

    bool terminal = &out == &std::cout && ConsoleProgress::IsTerminal(stdout);
    ConsoleProgress progress(out, std::cin, terminal, args.Has("--yes"));
    SendResult result;
    {
        WindowsMidiPort port(settings);
        SimpleSysExSender sender(port);
        result = sender.Send(update, progress);
    }
    return ReportSendResult(result, progress.GetOutcome(), out);
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

#else

bool HasMidiBackEnd() {
    return false;
}

int SendThroughMidiPort(const Update&, const CommandArguments&, std::ostream&, std::ostream& err) {
    err << "kestrane-cli: " << kNoMidiBackEndText << ".\n";
    return kExitFailure;
}

int RunPorts(const CommandArguments&, std::ostream&, std::ostream& err) {
    err << "kestrane-cli: " << kNoMidiBackEndText << ".\n";
    return kExitFailure;
}

#endif
