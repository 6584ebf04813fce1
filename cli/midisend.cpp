// The real MIDI back end of kestrane-cli: on Windows, the WinMM port that the
// application uses; elsewhere the RtMidi port (ALSA, JACK or CoreMIDI), where
// RtMidi was found when the tool was built.
#include "midisend.h"

#include "consoleprogress.h"
#include "portnames.h"
#include "sendupdate.h"

#include <iostream>

#ifdef _WIN32
#include "mididevices.h"
#include "winmidiport.h"
#elif defined(KESTRANE_HAVE_RTMIDI)
#include "rtmidiport.h"

#include <algorithm>
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

#elif defined(KESTRANE_HAVE_RTMIDI)

bool HasMidiBackEnd() {
    return true;
}

MidiSystem MidiSystemOption(const CommandArguments& args) {
    if (!args.Has("--api"))
        return DefaultMidiSystem();
    const std::string name = args.Value("--api");
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    MidiSystem api;
    if (ParseMidiSystemName(name, api) &&
        std::find(compiled.begin(), compiled.end(), api) != compiled.end())
        return api;
    std::string names;
    for (size_t index = 0; index < compiled.size(); ++index)
        names += std::string(index == 0                    ? ""
                             : index + 1 < compiled.size() ? ", "
                                                           : " or ") +
                 MidiSystemName(compiled[index]);
    throw UsageError("--api takes " + (names.empty() ? std::string("nothing") : names) +
                     " in this build, not '" + name + "'");
}

bool CheckMidiSystem(MidiSystem api, std::ostream& err) {
    const std::string problem = MidiSystemProblem(api);
    if (problem.empty())
        return true;
    std::string hint;
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    if (api == MidiSystem::Alsa &&
        std::find(compiled.begin(), compiled.end(), MidiSystem::Jack) != compiled.end())
        hint = " (with a JACK server running, use --api jack)";
    else if (api == MidiSystem::Jack)
        hint = " (start one, or name yours with JACK_DEFAULT_SERVER)";
    err << "kestrane-cli: no MIDI system to reach a device through: " << problem << hint << ".\n";
    return false;
}

int SendThroughMidiPort(const Update& update, const CommandArguments& args, std::ostream& out,
                        std::ostream& err) {
    const MidiSystem api = MidiSystemOption(args);
    PortSettings settings = update.GetPortSettings();
    if (args.Has("--port")) {
        const std::string port = args.Value("--port");
        if (port.empty() || !IsUsablePortName(NormalisePortName(port)))
            throw UsageError("the port '" + port +
                             "' names no device that can be updated; see 'kestrane-cli ports'");
        // The chosen port replaces every name the update gives, as when the
        // user picks a port in the application.
        settings.names.clear();
        settings.names.insert(port);
    } else if (update.IsSysEx()) {
        throw UsageError("a plain SysEx file names no MIDI port: choose the device's port with "
                         "--port NAME (see 'kestrane-cli ports')");
    }
    if (!CheckMidiSystem(api, err))
        return kExitFailure;

    bool terminal = &out == &std::cout && ConsoleProgress::IsTerminal(stdout);
    ConsoleProgress progress(out, std::cin, terminal, args.Has("--yes"));
    SendResult result;
    {
        RtMidiPort port(settings, api);
        SimpleSysExSender sender(port);
        result = sender.Send(update, progress);
    }
    return ReportSendResult(result, progress.GetOutcome(), out);
}

int RunPorts(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    const MidiSystem api = MidiSystemOption(args);
    if (!CheckMidiSystem(api, err))
        return kExitFailure;
    const MidiPortLists lists = ReadMidiPorts(api);
    auto list = [&out, api](const char* heading, const std::vector<std::string>& ports) {
        out << heading << " on " << MidiSystemTitle(api) << ":\n";
        if (ports.empty())
            out << "  (none)\n";
        for (size_t number = 0; number < ports.size(); ++number)
            out << "  " << number << ": " << ports[number] << "\n";
    };
    list("MIDI outputs (a device's input is listed here)", lists.outputs);
    list("MIDI inputs (a device's output is listed here)", lists.inputs);
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
