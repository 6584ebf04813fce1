// The RtMidi back end of kestrane-cli (ALSA, JACK or CoreMIDI, where RtMidi
// was found when the tool was built): the MIDI system that --api names, the
// RtMidi port, and the ports as the system lists them.
#include "rtmidibackend.h"

#include "midibackend.h"
#include "portnames.h"
#include "rtmidiport.h"
#include "sendsequence.h"

#include <algorithm>
#include <memory>

namespace {

bool IsUsableRtMidiPort(const std::string& port) {
    return !port.empty() && IsUsablePortName(NormalisePortName(port));
}

} // namespace

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
    const PortSettings settings =
        ChosenPortSettings(update, args, IsUsableRtMidiPort,
                           "names no device that can be updated; see 'kestrane-cli ports'");
    if (!CheckMidiSystem(api, err))
        return kExitFailure;
    const SentUpdate sent = SendWithProgress(
        update, [&settings, api] { return std::make_unique<RtMidiPort>(settings, api); },
        args.Has("--yes"), out);
    return ReportSendResult(sent, out);
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
