#include "devicelist.h"

#include "utils.h"

int FindMatchingDevice(const std::vector<MidiDeviceName>& devices,
                       const std::set<std::string>& names) {
    for (size_t number = 0; number < devices.size(); ++number) {
        const MidiDeviceName& device = devices[number];
        if (device.readable && MatchesPortName(names, device.name))
            return static_cast<int>(number);
    }
    return kNoDevice;
}

std::vector<std::string> ReadableNames(const std::vector<MidiDeviceName>& devices) {
    std::vector<std::string> names;
    for (const MidiDeviceName& device : devices)
        if (device.readable)
            names.push_back(device.name);
    return names;
}

void LogInterfaces(const std::vector<MidiDeviceName>& outputs,
                   const std::vector<MidiDeviceName>& inputs) {
    LogText("%s output...\n", "ListInterfaces");
    for (size_t number = 0; number < outputs.size(); ++number) {
        if (outputs[number].readable)
            LogText("  MIDI OUT port #%d: '%s'\n", static_cast<int>(number),
                    outputs[number].name.c_str());
    }
    LogText("%s input...\n", "ListInterfaces");
    for (size_t number = 0; number < inputs.size(); ++number) {
        if (inputs[number].readable)
            LogText("  MIDI IN  port #%d: '%s'\n", static_cast<int>(number),
                    inputs[number].name.c_str());
    }
}
