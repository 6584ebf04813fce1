#include "midisystem.h"

#include <algorithm>
#include <iterator>

namespace {

struct ApiInfo {
    MidiSystem api;
    const char* name;
    const char* title;
};

const ApiInfo kApis[] = {
    {MidiSystem::Alsa, "alsa", "ALSA"},
    {MidiSystem::Jack, "jack", "JACK"},
    {MidiSystem::CoreMidi, "coremidi", "CoreMIDI"},
};

const ApiInfo& Info(MidiSystem api) {
    return *std::find_if(std::begin(kApis), std::end(kApis),
                         [api](const ApiInfo& info) { return info.api == api; });
}

} // namespace

std::vector<MidiSystem> AllMidiSystems() {
    std::vector<MidiSystem> apis;
    std::transform(std::begin(kApis), std::end(kApis), std::back_inserter(apis),
                   [](const ApiInfo& info) { return info.api; });
    return apis;
}

const char* MidiSystemName(MidiSystem api) {
    return Info(api).name;
}

const char* MidiSystemTitle(MidiSystem api) {
    return Info(api).title;
}

bool ParseMidiSystemName(const std::string& name, MidiSystem& api) {
    const ApiInfo* found = std::find_if(std::begin(kApis), std::end(kApis),
                                        [&name](const ApiInfo& info) { return name == info.name; });
    if (found == std::end(kApis))
        return false;
    api = found->api;
    return true;
}
