#include "midireach.h"

#include "jackwatch.h"
#include "ownports.h"
#include "rtmidiaccess.h"

#include <algorithm>
#include <iterator>
#include <memory>

std::vector<MidiSystem> CompiledMidiSystems() {
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    const std::vector<MidiSystem> all = AllMidiSystems();
    std::vector<MidiSystem> apis;
    std::copy_if(all.begin(), all.end(), std::back_inserter(apis), [&compiled](MidiSystem api) {
        return std::find(compiled.begin(), compiled.end(), ToRtMidiApi(api)) != compiled.end();
    });
    return apis;
}

MidiSystem DefaultMidiSystem() {
#ifdef __APPLE__
    const MidiSystem usual = MidiSystem::CoreMidi;
#else
    const MidiSystem usual = MidiSystem::Alsa;
#endif
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    if (compiled.empty() || std::find(compiled.begin(), compiled.end(), usual) != compiled.end())
        return usual;
    return compiled.front();
}

std::string MidiSystemProblem(MidiSystem api) {
    const std::vector<MidiSystem> compiled = CompiledMidiSystems();
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end())
        return std::string("this build's RtMidi cannot reach ") + MidiSystemTitle(api);
    if (api == MidiSystem::Jack && !JackConnectionWatch().FoundServer())
        return "no JACK server is running";
    RtMidiErrors errors("MidiSystemProblem");
    std::string problem;
    std::unique_ptr<RtMidiOut> output = MakeMidiOut(api, kOwnClientName, errors, problem);
    // JACK is reached only when a port is listed or opened, and a server
    // that is not running shows only through the error callback.
    if (output)
        output->getPortCount();
    if (output && errors.Count() == 0)
        return "";
    switch (api) {
    case MidiSystem::Alsa:
        return "the ALSA sequencer cannot be opened here";
    case MidiSystem::Jack:
        return "no JACK server is running";
    case MidiSystem::CoreMidi:
        break;
    }
    return std::string(MidiSystemTitle(api)) + " cannot be reached (" +
           (output ? errors.LastText() : problem) + ")";
}

MidiPortLists ReadMidiPorts(MidiSystem api) {
    MidiPortLists lists;
    if (api == MidiSystem::Jack && !JackConnectionWatch().FoundServer())
        return lists;
    RtMidiErrors errors("ReadMidiPorts");
    std::string problem;
    if (std::unique_ptr<RtMidiOut> output = MakeMidiOut(api, kOwnClientName, errors, problem))
        lists.outputs = ListPorts(*output);
    if (std::unique_ptr<RtMidiIn> input = MakeMidiIn(api, kOwnClientName, errors, problem))
        lists.inputs = ListPorts(*input);
    return lists;
}
