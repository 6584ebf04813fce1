// A WinMM device list without WinMM: the walk that finds the device an update
// asks for, and the listing of both lists to the log. Names are compared by
// MatchesPortName (portnames.h): a leading Windows number ("2- ") is dropped,
// the system's synthesizer and mapper are never taken, and the first device
// in number order that matches wins.
#pragma once

#include "portnames.h"

#include <set>
#include <string>
#include <vector>

// One entry of a WinMM device list, at the index of its device number. A
// device whose capabilities cannot be read has readable false and no name; it
// is skipped everywhere.
struct MidiDeviceName {
    std::string name;
    bool readable;
};

// The number of the first readable device whose name matches the list, or
// kNoDevice.
int FindMatchingDevice(const std::vector<MidiDeviceName>& devices,
                       const std::set<std::string>& names);

// The names of the readable devices, in device order, excluded names
// included.
std::vector<std::string> ReadableNames(const std::vector<MidiDeviceName>& devices);

// Logs both lists (every readable device, excluded names included), as
// ListInterfaces does.
void LogInterfaces(const std::vector<MidiDeviceName>& outputs,
                   const std::vector<MidiDeviceName>& inputs);
